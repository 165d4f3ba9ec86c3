#include "SecurityHeaders.h"

namespace panelhost {
namespace {

// The pages load their scripts (modules, no eval), their style sheet and
// the event stream from the host itself and nothing else; inline scripts
// and style sheets only as an answer's own policy lists them by their
// SHA-256 (the pages as WebFolder sends them). The one image is the empty
// data: icon that keeps browsers from asking for a favicon. No plugins, no
// <base> that would move relative addresses elsewhere, forms only to the
// host, and no page of any origin may frame them.
std::string policyWith(const std::vector<std::string>& scripts,
                       const std::vector<std::string>& styles) {
    std::string policy = "default-src 'self'; script-src 'self'";
    for (const std::string& source : scripts) {
        policy += " " + source;
    }
    policy += "; style-src 'self'";
    for (const std::string& source : styles) {
        policy += " " + source;
    }
    return policy +
           "; img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'self'; "
           "frame-ancestors 'none'";
}

SecurityHeaders::Fields plainFields() {
    return {
        {"Content-Security-Policy", policyWith({}, {})},
        // The same for browsers older than frame-ancestors.
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    };
}

}  // namespace

std::string SecurityHeaders::contentPolicy(const std::vector<std::string>& scripts,
                                           const std::vector<std::string>& styles) {
    return policyWith(scripts, styles);
}

const SecurityHeaders::Fields& SecurityHeaders::fields(bool tls) {
    static const Fields plain = plainFields();
    static const Fields secure = [] {
        Fields withTls = plainFields();
        withTls.emplace_back("Strict-Transport-Security",
                             "max-age=" + std::to_string(kStrictTransportSeconds));
        return withTls;
    }();
    return tls ? secure : plain;
}

}  // namespace panelhost
