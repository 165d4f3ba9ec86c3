#include "SecurityHeaders.h"

namespace panelhost {
namespace {

// The pages load their scripts (modules, no eval), their style sheet and
// the event stream from the host itself and nothing else; the one inline
// script allowed, by its SHA-256, is index.html's that opens the event
// stream before the modules load (a browser test checks the hash against
// the page). The one image is the empty data: icon that keeps browsers from
// asking for a favicon. No plugins, no <base> that would move relative
// addresses elsewhere, forms only to the host, and no page of any origin
// may frame them.
constexpr const char* kContentPolicy =
    "default-src 'self'; script-src 'self' 'sha256-psC00HFqrxt3+wKEtZZ8HgFf35m0DIyORsOBo5DovV0='; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

SecurityHeaders::Fields plainFields() {
    return {
        {"Content-Security-Policy", kContentPolicy},
        // The same for browsers older than frame-ancestors.
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    };
}

}  // namespace

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
