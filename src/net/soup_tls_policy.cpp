#include "net/soup_tls_policy.h"

#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ustring.h"

namespace net {
namespace {

constexpr int kForgiven = G_TLS_CERTIFICATE_EXPIRED | G_TLS_CERTIFICATE_NOT_ACTIVATED;

std::uint16_t portOf(GUri* uri) {
  const int port = g_uri_get_port(uri);
  if (port > 0) return static_cast<std::uint16_t>(port);
  return g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0 ? 443 : 80;
}

}  // namespace

SoupTlsPolicy::SoupTlsPolicy() {
  const auto& file = platform::machineProfile().trustedCA;
  if (!file || file->empty()) return;
  GError* error = nullptr;
  trusted_ = g_tls_file_database_new(file->c_str(), &error);
  if (!trusted_) {
    VLOG(L"cannot load the trusted CA %ls: %ls", utility::ustring::utf8ToWide(*file).c_str(),
         utility::ustring::utf8ToWide(error ? error->message : "").c_str());
    g_clear_error(&error);
  }
}

SoupTlsPolicy::~SoupTlsPolicy() {
  if (trusted_) g_object_unref(trusted_);
}

void SoupTlsPolicy::attach(SoupMessage* message) {
  g_signal_connect(message, "accept-certificate", G_CALLBACK(onAcceptCertificate), this);
}

GTlsCertificateFlags SoupTlsPolicy::errorsWithTrustedCA(SoupMessage* message,
                                                        GTlsCertificate* certificate,
                                                        GTlsCertificateFlags errors) const {
  if (!(errors & G_TLS_CERTIFICATE_UNKNOWN_CA) || !trusted_) return errors;
  GUri* uri = soup_message_get_uri(message);  // the current hop
  GSocketConnectable* identity = g_network_address_new(g_uri_get_host(uri), portOf(uri));
  GError* error = nullptr;
  const GTlsCertificateFlags again = g_tls_database_verify_chain(
      trusted_, certificate, G_TLS_DATABASE_PURPOSE_AUTHENTICATE_SERVER, identity, nullptr,
      G_TLS_DATABASE_VERIFY_NONE, nullptr, &error);
  g_object_unref(identity);
  if (error) {
    g_clear_error(&error);
    return errors;
  }
  return again;
}

gboolean SoupTlsPolicy::onAcceptCertificate(SoupMessage* message, GTlsCertificate* certificate,
                                            GTlsCertificateFlags errors, gpointer self) {
  auto* policy = static_cast<SoupTlsPolicy*>(self);
  const GTlsCertificateFlags remaining = policy->errorsWithTrustedCA(message, certificate, errors);
  if ((remaining & ~kForgiven) == 0) return TRUE;
  policy->refused_ = remaining;
  VLOG(L"certificate refused, flags 0x%x", static_cast<unsigned>(remaining));
  return FALSE;
}

}  // namespace net
