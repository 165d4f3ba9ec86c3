#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// A self-signed certificate for 127.0.0.1 and its private key, both PEM,
// made with the openssl command in `folder` (cert.pem, key.pem). The key
// is its owner's alone (mode 0600), as the host requires of a key file.
struct TestCertificate {
    explicit TestCertificate(const std::filesystem::path& folder)
        : certificate(folder / "cert.pem"), key(folder / "key.pem") {
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
            key.string() + "' -out '" + certificate.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("openssl cannot make a test certificate in " +
                                     folder.string());
        }
        std::filesystem::permissions(
            key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }

    std::filesystem::path certificate;
    std::filesystem::path key;
};
