#include "net/wininet_errors.h"

#include <libsoup/soup.h>

namespace net::wininet {
namespace {

DWORD fromCertificateErrors(GTlsCertificateFlags flags) {
  if (flags & G_TLS_CERTIFICATE_UNKNOWN_CA) return ERROR_INTERNET_INVALID_CA;
  if (flags & G_TLS_CERTIFICATE_BAD_IDENTITY) return ERROR_INTERNET_SEC_CERT_CN_INVALID;
  if (flags & G_TLS_CERTIFICATE_REVOKED) return kCertRevoked;
  if (flags & (G_TLS_CERTIFICATE_EXPIRED | G_TLS_CERTIFICATE_NOT_ACTIVATED)) {
    return kCertDateInvalid;
  }
  return kInvalidCertificate;
}

DWORD fromIoError(int code) {
  switch (code) {
    case G_IO_ERROR_TIMED_OUT: return ERROR_INTERNET_TIMEOUT;
    case G_IO_ERROR_CANCELLED: return ERROR_INTERNET_OPERATION_CANCELLED;
    case G_IO_ERROR_HOST_NOT_FOUND: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case G_IO_ERROR_CONNECTION_REFUSED:
    case G_IO_ERROR_HOST_UNREACHABLE:
    case G_IO_ERROR_NETWORK_UNREACHABLE:
    case G_IO_ERROR_PROXY_FAILED:
    case G_IO_ERROR_PROXY_AUTH_FAILED:
    case G_IO_ERROR_PROXY_NEED_AUTH:
    case G_IO_ERROR_PROXY_NOT_ALLOWED:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case G_IO_ERROR_CONNECTION_CLOSED:  // also G_IO_ERROR_BROKEN_PIPE
    case G_IO_ERROR_PARTIAL_INPUT:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case G_IO_ERROR_NOT_CONNECTED: return ERROR_INTERNET_CONNECTION_RESET;
    default: return kInternalError;
  }
}

DWORD fromSessionError(int code) {
  switch (code) {
    case SOUP_SESSION_ERROR_PARSING:
    case SOUP_SESSION_ERROR_ENCODING:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS:
    case SOUP_SESSION_ERROR_TOO_MANY_RESTARTS:
    case SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION:
    case SOUP_SESSION_ERROR_REDIRECT_BAD_URI:
      return kRedirectFailed;
    default: return kInternalError;
  }
}

}  // namespace

DWORD fromGError(const GError* error, const Circumstances& circumstances) {
  if (circumstances.timedOut) return ERROR_INTERNET_TIMEOUT;
  if (!error) return kInternalError;
  if (error->domain == G_IO_ERROR) return fromIoError(error->code);
  if (error->domain == G_RESOLVER_ERROR) return ERROR_INTERNET_NAME_NOT_RESOLVED;
  if (error->domain == G_TLS_ERROR) {
    if (error->code == G_TLS_ERROR_BAD_CERTIFICATE) {
      return fromCertificateErrors(circumstances.certificateErrors);
    }
    return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
  }
  if (error->domain == SOUP_SESSION_ERROR) return fromSessionError(error->code);
  return kInternalError;
}

}  // namespace net::wininet
