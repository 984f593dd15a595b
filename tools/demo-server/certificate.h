#pragma once

#include <optional>
#include <string>

namespace demo {

// A self-signed TLS certificate and its RSA key, both PEM, made in memory at start.
struct Certificate {
    std::string certificatePem;
    std::string privateKeyPem;
};

std::optional<Certificate> makeSelfSignedCertificate(const std::string& commonName);

} // namespace demo
