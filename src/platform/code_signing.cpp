#include "platform/code_signing.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/openssl_handles.h"

namespace platform {
namespace {

// The trailer's first eight bytes: algorithm, hash, identifier type
// (2 = PKCS#7), signer name length, key id length, three padding bytes.
constexpr unsigned char kTrailerHead[8] = {0, 0, 2, 0, 0, 0, 0, 0};

using openssl::BioPtr;
using openssl::CmsPtr;
using openssl::StoreContextPtr;
using openssl::StorePtr;

struct OwnedCertificates {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
struct BorrowedCertificates {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};
using OwnedCertificateStack = std::unique_ptr<STACK_OF(X509), OwnedCertificates>;
using BorrowedCertificateStack = std::unique_ptr<STACK_OF(X509), BorrowedCertificates>;

// Reads exactly `size` bytes at `offset`; false on an error or a short file.
bool readAt(int fd, void* out, std::size_t size, std::uint64_t offset) {
  auto* cursor = static_cast<unsigned char*>(out);
  while (size > 0) {
    ssize_t n = pread(fd, cursor, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    cursor += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

SignatureLayout damaged(SignatureLayout layout, const char* reason) {
  layout.kind = SignatureLayout::Kind::Damaged;
  layout.contentLength = layout.fileSize;
  layout.signatureLength = 0;
  layout.reason = reason;
  return layout;
}

// Reads the marker and the trailer. False when the file cannot be read.
bool readLayout(int fd, SignatureLayout& layout) {
  layout = {};
  struct stat st;
  if (fstat(fd, &st) != 0) return setLastErrorFromErrno(), false;
  if (!S_ISREG(st.st_mode)) return setLastError(ERROR_ACCESS_DENIED), false;
  std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  layout.fileSize = size;
  layout.contentLength = size;
  if (size < kSignatureMarkerSize) return true;

  char marker[kSignatureMarkerSize];
  if (!readAt(fd, marker, sizeof marker, size - kSignatureMarkerSize)) {
    return setLastErrorFromErrno(), false;
  }
  if (std::memcmp(marker, kSignatureMarker, kSignatureMarkerSize) != 0) return true;

  constexpr std::uint64_t kTail = kSignatureMarkerSize + kSignatureTrailerSize;
  if (size < kTail) return layout = damaged(layout, "the signature trailer is cut short"), true;
  unsigned char trailer[kSignatureTrailerSize];
  if (!readAt(fd, trailer, sizeof trailer, size - kTail)) return setLastErrorFromErrno(), false;
  if (std::memcmp(trailer, kTrailerHead, sizeof kTrailerHead) != 0) {
    return layout = damaged(layout, "the signature trailer is not a PKCS#7 trailer"), true;
  }
  std::uint32_t length = (std::uint32_t{trailer[8]} << 24) | (std::uint32_t{trailer[9]} << 16) |
                         (std::uint32_t{trailer[10]} << 8) | std::uint32_t{trailer[11]};
  if (length == 0) return layout = damaged(layout, "the signature length is zero"), true;
  if (length > size - kTail) {
    return layout = damaged(layout, "the signature length points before the start of the file"), true;
  }
  if (length > kMaxSignatureBytes) return layout = damaged(layout, "the signature is too large"), true;
  layout.kind = SignatureLayout::Kind::Signed;
  layout.signatureLength = length;
  layout.contentLength = size - kTail - length;
  return true;
}

// OpenSSL's words for the last error, after our own; empties its queue.
std::string withOpensslReason(const char* reason) {
  std::string text = reason;
  unsigned long error = ERR_peek_last_error();
  if (error != 0) {
    const char* words = ERR_reason_error_string(error);
    if (words) text += std::string(" (") + words + ")";
  }
  ERR_clear_error();
  return text;
}

// The content bytes as an OpenSSL source: reads [0, end) of the file with
// pread, so nothing is copied whole and a shrinking file is noticed.
struct ContentSource {
  int fd = -1;
  std::uint64_t position = 0;
  std::uint64_t end = 0;
  bool failed = false;
};

int readContent(BIO* bio, char* out, std::size_t size, std::size_t* done) {
  auto* source = static_cast<ContentSource*>(BIO_get_data(bio));
  *done = 0;
  if (source->failed || source->position >= source->end) return 0;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, source->end - source->position));
  ssize_t n;
  do {
    n = pread(source->fd, out, want, static_cast<off_t>(source->position));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    source->failed = true;
    return 0;
  }
  source->position += static_cast<std::uint64_t>(n);
  *done = static_cast<std::size_t>(n);
  return 1;
}

long controlContent(BIO* bio, int command, long, void*) {
  auto* source = static_cast<ContentSource*>(BIO_get_data(bio));
  switch (command) {
    case BIO_CTRL_EOF: return source->failed || source->position >= source->end;
    case BIO_CTRL_FLUSH: return 1;
    default: return 0;
  }
}

const BIO_METHOD* contentMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vireo signed content");
    if (m) {
      BIO_meth_set_read_ex(m, readContent);
      BIO_meth_set_ctrl(m, controlContent);
    }
    return m;
  }();
  return method;
}

// Only a wrong clock is forgiven: expired and not-yet-valid certificates.
int forgiveDateErrors(int ok, X509_STORE_CTX* context) {
  if (ok) return 1;
  int error = X509_STORE_CTX_get_error(context);
  if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID) {
    X509_STORE_CTX_set_error(context, X509_V_OK);
    return 1;
  }
  return 0;
}

// Every PEM certificate of the text becomes a trust anchor.
StorePtr trustedStore(const std::string& pem, int& anchors) {
  anchors = 0;
  StorePtr store(X509_STORE_new());
  if (!store || pem.empty() || pem.size() > INT_MAX) return store;
  BioPtr text(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!text) return store;
  while (X509* certificate = PEM_read_bio_X509(text.get(), nullptr, nullptr, nullptr)) {
    if (X509_STORE_add_cert(store.get(), certificate) == 1) ++anchors;
    X509_free(certificate);
  }
  ERR_clear_error();  // the end of the text reads as an error
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
  X509_STORE_set_verify_cb(store.get(), forgiveDateErrors);
  return store;
}

std::string subjectLine(X509* certificate) {
  char buffer[512];
  if (!X509_NAME_oneline(X509_get_subject_name(certificate), buffer, sizeof buffer)) return {};
  return buffer;
}

SignatureCheck verdict(SignatureStatus status, std::string reason, std::string signer = {}) {
  SignatureCheck check;
  check.status = status;
  check.reason = std::move(reason);
  check.signerSubject = std::move(signer);
  return check;
}

SignatureCheck checkChain(X509* signer, STACK_OF(X509) * carried, const std::string& trustedPem,
                          const std::string& subject) {
  int anchors = 0;
  StorePtr store = trustedStore(trustedPem, anchors);
  if (!store || anchors == 0) {
    return verdict(SignatureStatus::UntrustedSigner, "no trusted publisher certificate", subject);
  }
  StoreContextPtr context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), store.get(), signer, carried) != 1) {
    return verdict(SignatureStatus::UntrustedSigner,
                   withOpensslReason("the chain could not be checked"), subject);
  }
  if (X509_verify_cert(context.get()) != 1) {
    int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    return verdict(SignatureStatus::UntrustedSigner,
                   std::string("the signer does not chain to the publisher (") +
                       X509_verify_cert_error_string(error) + ")",
                   subject);
  }
  return verdict(SignatureStatus::Ok, "the signature is intact and trusted", subject);
}

SignatureCheck checkDescriptor(int fd, const std::string& trustedPem) {
  ERR_clear_error();
  SignatureLayout layout;
  if (!readLayout(fd, layout)) return verdict(SignatureStatus::Unreadable, "the file cannot be read");
  if (layout.kind == SignatureLayout::Kind::Unsigned) {
    return verdict(SignatureStatus::NoSignature, "no signature is appended");
  }
  if (layout.kind == SignatureLayout::Kind::Damaged) {
    return verdict(SignatureStatus::Malformed, layout.reason);
  }

  std::vector<unsigned char> der(layout.signatureLength);
  if (!readAt(fd, der.data(), der.size(), layout.contentLength)) {
    setLastErrorFromErrno();
    return verdict(SignatureStatus::Unreadable, "the signature cannot be read");
  }
  const unsigned char* cursor = der.data();
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
  if (!cms) return verdict(SignatureStatus::Malformed, withOpensslReason("the signature is not DER PKCS#7"));
  if (cursor != der.data() + der.size()) {
    return verdict(SignatureStatus::Malformed, "bytes follow the PKCS#7 structure");
  }
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    return verdict(SignatureStatus::Malformed, "the PKCS#7 structure is not signed data");
  }
  if (CMS_is_detached(cms.get()) != 1) {
    return verdict(SignatureStatus::Malformed, "the signature carries content of its own");
  }
  STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
  if (!signerInfos || sk_CMS_SignerInfo_num(signerInfos) != 1) {
    return verdict(SignatureStatus::Malformed, "the signature has not exactly one signer");
  }
  CMS_SignerInfo* signerInfo = sk_CMS_SignerInfo_value(signerInfos, 0);

  // The signer's certificate, matched by issuer and serial number.
  OwnedCertificateStack carried(CMS_get1_certs(cms.get()));
  X509* signer = nullptr;
  for (int i = 0; carried && i < sk_X509_num(carried.get()); ++i) {
    X509* candidate = sk_X509_value(carried.get(), i);
    if (CMS_SignerInfo_cert_cmp(signerInfo, candidate) == 0) {
      signer = candidate;
      break;
    }
  }
  ERR_clear_error();
  if (!signer) {
    return verdict(SignatureStatus::SignerNotFound, "the signer's certificate is not in the signature");
  }
  std::string subject = subjectLine(signer);

  BorrowedCertificateStack signers(sk_X509_new_null());
  const BIO_METHOD* method = contentMethod();
  BioPtr content(method ? BIO_new(method) : nullptr);
  if (!signers || !sk_X509_push(signers.get(), signer) || !content) {
    return verdict(SignatureStatus::Unreadable, withOpensslReason("out of memory"), subject);
  }
  ContentSource source;
  source.fd = fd;
  source.end = layout.contentLength;
  BIO_set_data(content.get(), &source);
  BIO_set_init(content.get(), 1);
  int verified = CMS_verify(cms.get(), signers.get(), nullptr, content.get(), nullptr,
                            CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY | CMS_NOINTERN);
  if (source.failed) {
    ERR_clear_error();
    setLastError(ERROR_READ_FAULT);
    return verdict(SignatureStatus::Unreadable, "the file changed while it was read", subject);
  }
  if (verified != 1) {
    return verdict(SignatureStatus::BadSignature,
                   withOpensslReason("the signature does not match the content"), subject);
  }
  return checkChain(signer, carried.get(), trustedPem, subject);
}

}  // namespace

const char* signatureStatusName(SignatureStatus status) {
  switch (status) {
    case SignatureStatus::Ok: return "ok";
    case SignatureStatus::Unreadable: return "unreadable";
    case SignatureStatus::NoSignature: return "no signature";
    case SignatureStatus::Malformed: return "malformed signature";
    case SignatureStatus::SignerNotFound: return "signer certificate not found";
    case SignatureStatus::BadSignature: return "bad signature";
    case SignatureStatus::UntrustedSigner: return "untrusted signer";
  }
  return "unknown";
}

SignatureCheck checkEmbeddedSignature(const std::wstring& path, const std::string& trustedCertificatesPem) {
  File file;
  if (!file.open(path, false, Disposition::OpenExisting)) {
    return verdict(SignatureStatus::Unreadable, "the file cannot be opened");
  }
  return checkDescriptor(file.fd(), trustedCertificatesPem);
}

SignatureCheck checkEmbeddedSignatureOfHostFile(const std::string& hostPath,
                                                const std::string& trustedCertificatesPem) {
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    setLastErrorFromErrno();
    return verdict(SignatureStatus::Unreadable, "the file cannot be opened");
  }
  SignatureCheck check = checkDescriptor(fd, trustedCertificatesPem);
  ::close(fd);
  return check;
}

bool readSignatureLayoutOfHostFile(const std::string& hostPath, SignatureLayout& layout) {
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return setLastErrorFromErrno(), false;
  bool ok = readLayout(fd, layout);
  ::close(fd);
  return ok;
}

std::string signatureTrailer(std::uint32_t signatureLength) {
  std::string trailer(reinterpret_cast<const char*>(kTrailerHead), sizeof kTrailerHead);
  trailer += static_cast<char>((signatureLength >> 24) & 0xFF);
  trailer += static_cast<char>((signatureLength >> 16) & 0xFF);
  trailer += static_cast<char>((signatureLength >> 8) & 0xFF);
  trailer += static_cast<char>(signatureLength & 0xFF);
  return trailer;
}

}  // namespace platform
