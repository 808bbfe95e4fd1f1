// Embedded signatures of program files. A signed program carries a detached
// PKCS#7 (CMS) signature appended to its bytes, in the layout Linux uses for
// kernel modules:
//
//   content | DER PKCS#7 with the signer certificate | 12-byte trailer |
//   "~Module signature appended~\n"
//
// The trailer is 00 00 02 00 00 00 00 00 (PKCS#7 identifier, no name, no key
// id) followed by the signature's length as a big-endian 32-bit number. The
// signature covers the content bytes exactly.
//
// The check answers, in this order: is there such a signature; is it well
// formed; is the signer certificate in it; does the signature verify over the
// content; does the signer chain to one of the trusted publisher
// certificates (certificate date errors alone are forgiven, for machines
// with a wrong clock). Files are streamed, never loaded whole into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class SignatureStatus {
  Ok,
  Unreadable,       // the file cannot be opened or read (or changed while it was read)
  NoSignature,      // no signature marker at the end
  Malformed,        // a marker, but the trailer or the PKCS#7 structure is damaged
  SignerNotFound,   // the signer's certificate is not in the signature
  BadSignature,     // the signature does not verify over the content
  UntrustedSigner,  // the signer does not chain to a trusted publisher certificate
};

// A short English name of the status for log lines ("ok", "no signature", ...).
const char* signatureStatusName(SignatureStatus status);

struct SignatureCheck {
  SignatureStatus status = SignatureStatus::Unreadable;
  std::string reason;         // why, in a few words (OpenSSL's where it has some)
  std::string signerSubject;  // the signer's subject, one line, once found
  bool ok() const { return status == SignatureStatus::Ok; }
};

// Checks the program file at a Windows path. `trustedCertificatesPem` holds
// one or more PEM certificates; each is a trust anchor (it need not be
// self-signed). No trusted certificate at all means no signer is trusted.
SignatureCheck checkEmbeddedSignature(const std::wstring& path,
                                      const std::string& trustedCertificatesPem);

// The same for a host path (tools and tests).
SignatureCheck checkEmbeddedSignatureOfHostFile(const std::string& hostPath,
                                                const std::string& trustedCertificatesPem);

// Where the appended signature lies, from the trailer alone (nothing is
// verified). Used to strip an old signature before signing again, and by
// programs that carry data of their own before the signature.
struct SignatureLayout {
  enum class Kind { Unsigned, Signed, Damaged };
  Kind kind = Kind::Unsigned;
  std::uint64_t fileSize = 0;
  std::uint64_t contentLength = 0;    // bytes before the signature (the whole file when unsigned)
  std::uint32_t signatureLength = 0;  // DER bytes, when signed
  std::string reason;                 // what is damaged
};

// False (with the last error set) when the file cannot be opened or read.
bool readSignatureLayoutOfHostFile(const std::string& hostPath, SignatureLayout& layout);

// The layout's fixed parts.
constexpr char kSignatureMarker[] = "~Module signature appended~\n";
constexpr std::size_t kSignatureMarkerSize = sizeof(kSignatureMarker) - 1;  // 28
constexpr std::size_t kSignatureTrailerSize = 12;
// Longest signature accepted; a real one (signer certificate and chain) takes
// a few KiB.
constexpr std::uint32_t kMaxSignatureBytes = 1u << 20;

// The 12-byte trailer for a signature of `signatureLength` bytes.
std::string signatureTrailer(std::uint32_t signatureLength);

}  // namespace platform
