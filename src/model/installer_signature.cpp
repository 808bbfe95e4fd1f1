#include "model/installer_signature.h"

#include "config/publisher_certificate.h"
#include "platform/code_signing.h"
#include "utility/log.h"

bool checkInstallerSignature(const std::wstring& path) {
  const platform::SignatureCheck check =
      platform::checkEmbeddedSignature(path, config::publisherCertificatesPem());
  if (check.ok()) {
    VLOG(L"signer: %s", check.signerSubject.c_str());
    return true;
  }
  VLOG(L"signature check failed: %s (%s), file = %ls", platform::signatureStatusName(check.status),
       check.reason.c_str(), path.c_str());
  return false;
}
