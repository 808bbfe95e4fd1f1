// Throwaway certificates for the signing tests, made in memory with OpenSSL
// and written as PEM files: CAs and code-signing certificates with chosen
// validity windows (days from now, negative for the past).
#pragma once

#include <string>

namespace vireo::testing {

struct Credentials {
  std::string certFile;  // PEM certificate
  std::string keyFile;   // PEM private key
  std::string subject;   // one-line subject, e.g. "/CN=Test Signer"
};

enum class KeyKind { Ec, Rsa };

struct Validity {
  long fromDays = -1;
  long toDays = 30;
};

// A self-signed CA in `folder`/`name`.crt and .key.
Credentials makeCa(const std::string& folder, const std::string& name, Validity validity = {});

// A code-signing certificate issued by `issuer`.
Credentials makeSigner(const std::string& folder, const std::string& name, const Credentials& issuer,
                       Validity validity = {}, KeyKind key = KeyKind::Ec);

}  // namespace vireo::testing
