// TLS policy of the libcurl helper: the peer and its host name are verified
// against the system CA store plus the machine profile's trustedCA, and only
// certificate date errors (expired, not yet valid) are forgiven, for machines
// whose clock is wrong.
#pragma once

#include <curl/curl.h>

namespace net::curl_tls {

// Sets CURLOPT_SSL_VERIFYPEER, CURLOPT_SSL_VERIFYHOST and the SSL context
// hook that adds the trusted CA and installs the date-forgiving verifier.
void applyVerification(CURL* curl);

}  // namespace net::curl_tls
