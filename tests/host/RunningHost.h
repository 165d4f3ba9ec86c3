#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "HostApplication.h"
#include "SqliteAccountStore.h"

// The real name-set panel plugin in a host running in this process, served
// on a loopback port the system chooses, with an admin API token for the
// calls of the tests. Shared by the end-to-end suites.
class RunningHost {
  public:
    static constexpr const char* kTokenName = "tests";

    RunningHost(const std::filesystem::path& data, int panels,
                std::size_t streams = panelhost::HostOptions::kDefaultStreams) {
        panelhost::HostOptions options;
        options.plugin = PANELHOST_PLUGIN;
        options.layouts = PANELHOST_LAYOUTS;
        options.web = PANELHOST_WEB;
        options.data = data;
        options.port = 0;
        options.panels = panels;
        options.consoleLog = false;
        options.streams = streams;
        host_ = std::make_unique<panelhost::HostApplication>(options);
        // The tests act as an admin's script would: with an API token made
        // in the data file while the host runs.
        panelhost::SqliteAccountStore accounts(options.dataFile());
        try {
            accounts.revokeToken(kTokenName);  // the token of a host before a restart
        } catch (const panelhost::AccountError&) {
        }
        token_ = accounts.createToken(panelhost::Role::Admin, kTokenName).token;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", host_->port());
        client_->set_bearer_token_auth(token_);
    }

    std::pair<int, nlohmann::json> get(const std::string& path) {
        const auto result = client_->Get(path.c_str());
        EXPECT_TRUE(result) << path;
        return {result->status, nlohmann::json::parse(result->body, nullptr, false)};
    }

    // The body of a GET that answers 200, as text.
    std::string text(const std::string& path) {
        const auto result = client_->Get(path.c_str());
        EXPECT_TRUE(result && result->status == 200) << path;
        return result ? result->body : "";
    }

    std::pair<int, nlohmann::json> send(const std::string& method, const std::string& path,
                                        const std::string& body) {
        const auto result = method == "PUT" ? client_->Put(path.c_str(), body, "application/json")
                                            : client_->Post(path.c_str(), body, "application/json");
        EXPECT_TRUE(result) << path;
        return {result->status, nlohmann::json::parse(result->body, nullptr, false)};
    }

    // Presses, selects or types on a control of an instance; expects success.
    void act(int instance, const std::string& panel, const std::string& control,
             const std::string& event) {
        const auto [status, body] =
            send("POST", "/api/panels/" + std::to_string(instance) + "/events",
                 nlohmann::json{{"panel", panel}, {"control", control}, {"event", event}}.dump());
        EXPECT_EQ(status, 200) << control << " " << event << ": " << body.dump();
    }

    void type(int instance, const std::string& text) {
        for (const char c : text) {
            act(instance, "2", "KB_1", c == ' ' ? "key.space" : std::string("key.") + c);
        }
    }

    void clearKeyboard(int instance) {
        while (!property(instance, "2", "KB_1", "text").empty()) {
            act(instance, "2", "KB_1", "key.backspace");
        }
    }

    std::string property(int instance, const std::string& panel, const std::string& control,
                         const std::string& name) {
        const nlohmann::json body = get("/api/panels/" + std::to_string(instance)).second;
        for (const nlohmann::json& loaded : body["panels"]) {
            if (loaded["panel"] != panel) {
                continue;
            }
            for (const nlohmann::json& found : loaded["controls"]) {
                if (found["name"] == control) {
                    const nlohmann::json& properties = found["properties"];
                    const auto property = properties.find(name);
                    return property != properties.end() && property->is_string()
                               ? property->get_ref<const std::string&>()
                               : std::string();
                }
            }
        }
        ADD_FAILURE() << "no control " << control << " on panel " << panel;
        return "";
    }

    std::string name(int database, int index) {
        return get("/api/devices/12/databases/" + std::to_string(database) + "/" +
                   std::to_string(index))
            .second["text"];
    }

    panelhost::HostApplication& host() { return *host_; }
    int port() const { return host_->port(); }
    const std::string& token() const { return token_; }

  private:
    std::unique_ptr<panelhost::HostApplication> host_;
    std::string token_;
    std::unique_ptr<httplib::Client> client_;
};
