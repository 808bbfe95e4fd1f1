// TLS policy of the second HTTP stack: the system's CA store plus the machine
// profile's trustedCA, host names verified, and only certificate date errors
// (expired, not yet valid) forgiven. libsoup asks through the
// "accept-certificate" signal of a message whenever its own verification
// against the system store found a fault; a chain from an unknown CA is then
// verified again against the trusted CA.
#pragma once

#include <libsoup/soup.h>

namespace net {

class SoupTlsPolicy {
 public:
  SoupTlsPolicy();  // loads the profile's trustedCA, if any
  ~SoupTlsPolicy();
  SoupTlsPolicy(const SoupTlsPolicy&) = delete;
  SoupTlsPolicy& operator=(const SoupTlsPolicy&) = delete;

  // Every message of the session gets the same policy (the signal fires
  // again for every redirect hop).
  void attach(SoupMessage* message);

  // The faults of the last certificate refused, for the error number.
  GTlsCertificateFlags refusedErrors() const { return refused_; }
  void clearRefused() { refused_ = static_cast<GTlsCertificateFlags>(0); }

 private:
  static gboolean onAcceptCertificate(SoupMessage* message, GTlsCertificate* certificate,
                                      GTlsCertificateFlags errors, gpointer self);
  GTlsCertificateFlags errorsWithTrustedCA(SoupMessage* message, GTlsCertificate* certificate,
                                           GTlsCertificateFlags errors) const;

  GTlsDatabase* trusted_ = nullptr;
  GTlsCertificateFlags refused_ = static_cast<GTlsCertificateFlags>(0);
};

}  // namespace net
