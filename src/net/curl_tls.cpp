#include "net/curl_tls.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ustring.h"

namespace net::curl_tls {
namespace {

// OpenSSL asks this for every certificate of the chain. Returning 1 with the
// error reset to X509_V_OK lets the handshake go on and keeps the final
// verify result clean, which libcurl checks again after the handshake.
int forgiveDateErrors(int preverifyOk, X509_STORE_CTX* store) {
  if (preverifyOk) return 1;
  const int error = X509_STORE_CTX_get_error(store);
  if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  return 0;
}

void addTrustedCA(SSL_CTX* context) {
  const auto& trusted = platform::machineProfile().trustedCA;
  if (!trusted || trusted->empty()) return;
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  if (!store || X509_STORE_load_file(store, trusted->c_str()) != 1) {
    VLOG(L"cannot load the trusted CA %ls", utility::ustring::utf8ToWide(*trusted).c_str());
  }
}

// libcurl has loaded the system store into the context when it calls this.
CURLcode prepareContext(CURL*, void* sslContext, void*) {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  addTrustedCA(context);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, forgiveDateErrors);
  return CURLE_OK;
}

}  // namespace

void applyVerification(CURL* curl) {
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, prepareContext) != CURLE_OK) {
    // Without the hook (a TLS back end other than OpenSSL) verification stays
    // strict: system store only, no date errors forgiven.
    VLOG(L"the TLS back end takes no context hook");
  }
}

}  // namespace net::curl_tls
