// The Windows Internet error numbers that the second HTTP stack reports, and
// the translation of GLib/libsoup errors into them, so that logged and
// reported reasons read as they would on Windows.
#pragma once

#include <gio/gio.h>

#include "platform/win_constants.h"

namespace net::wininet {

constexpr DWORD kInternalError = 12004;        // ERROR_INTERNET_INTERNAL_ERROR
constexpr DWORD kInvalidUrl = 12005;           // ERROR_INTERNET_INVALID_URL
constexpr DWORD kUnrecognizedScheme = 12006;   // ERROR_INTERNET_UNRECOGNIZED_SCHEME
constexpr DWORD kCertDateInvalid = 12037;      // ERROR_INTERNET_SEC_CERT_DATE_INVALID
constexpr DWORD kHeaderNotFound = 12150;       // ERROR_HTTP_HEADER_NOT_FOUND
constexpr DWORD kRedirectFailed = 12156;       // ERROR_HTTP_REDIRECT_FAILED
constexpr DWORD kInvalidCertificate = 12169;   // ERROR_INTERNET_SEC_INVALID_CERT
constexpr DWORD kCertRevoked = 12170;          // ERROR_INTERNET_SEC_CERT_REVOKED

struct Circumstances {
  bool timedOut = false;  // the receive watchdog cancelled the request
  GTlsCertificateFlags certificateErrors = static_cast<GTlsCertificateFlags>(0);  // refused
};

// The error number for a failed send or read.
DWORD fromGError(const GError* error, const Circumstances& circumstances);

}  // namespace net::wininet
