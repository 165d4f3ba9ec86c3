#include "FirstStart.h"

#include "RequestGuard.h"

namespace panelhost {

bool FirstStart::createAdmin(AccountStore& accounts) {
    return accounts.addFirstAdmin(kAdminName);
}

std::optional<std::string> FirstStart::refusal(const AccountStore& accounts,
                                               const std::string& bind) {
    if (RequestGuard::isLoopbackAddress(bind) || accounts.anyPassword()) {
        return std::nullopt;
    }
    return "refusing to serve on " + bind +
           ": no account has a password yet, so the first-start login would be open to the "
           "whole network. Give an account a password first (panelhost user passwd admin, or "
           "panelhost user add NAME --role admin, with the same --data or --store), or serve on "
           "127.0.0.1.";
}

std::optional<std::string> FirstStart::loginLink(AccountStore& accounts, const std::string& url) {
    if (accounts.anyPassword()) {
        return std::nullopt;
    }
    for (const Account& account : accounts.accounts()) {
        if (account.role == Role::Admin && !account.hasPassword) {
            return url + "login?once=" + accounts.issueOnceLogin(account.name);
        }
    }
    return std::nullopt;
}

}  // namespace panelhost
