// standin-sign --cert CERT --key KEY IN [OUT]
//
// Signs a program file the way the installer checks it (platform/code_signing.h):
// a detached PKCS#7 signature over the file's bytes (SHA-256, no signed
// attributes, the signer certificate included), the 12-byte trailer and
// "~Module signature appended~\n" appended. The signature is byte for byte
// what this gives:
//
//   openssl cms -sign -binary -noattr -md sha256 -in IN -signer CERT -inkey KEY -outform DER
//
// A file that is signed already has its old signature replaced. Without OUT
// the file is signed in place. OUT appears whole or not at all (a temporary
// beside it, then a rename) and keeps IN's permissions.
//
// Exit codes: 0 signed, 1 failure (said on standard error), 2 bad arguments.
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/code_signing.h"
#include "platform/openssl_handles.h"
#include "platform/entry.h"

namespace {

using platform::openssl::BioPtr;
using platform::openssl::CertificatePtr;
using platform::openssl::CmsPtr;
using platform::openssl::KeyPtr;

int usage(const char* why) {
  std::fprintf(stderr, "standin-sign: %s\nusage: standin-sign --cert CERT --key KEY IN [OUT]\n", why);
  return 2;
}

bool fail(const std::string& what) {
  std::string text = "standin-sign: " + what;
  if (unsigned long error = ERR_peek_last_error()) {
    char words[256];
    ERR_error_string_n(error, words, sizeof words);
    text += std::string(" (") + words + ")";
  }
  ERR_clear_error();
  std::fprintf(stderr, "%s\n", text.c_str());
  return false;
}

bool failErrno(const std::string& what) { return fail(what + ": " + std::strerror(errno)); }

struct Signer {
  CertificatePtr certificate;
  KeyPtr key;
};

bool loadSigner(const std::string& certFile, const std::string& keyFile, Signer& signer) {
  BioPtr certText(BIO_new_file(certFile.c_str(), "rb"));
  if (certText) signer.certificate.reset(PEM_read_bio_X509(certText.get(), nullptr, nullptr, nullptr));
  if (!signer.certificate) return fail("cannot read the certificate " + certFile);
  BioPtr keyText(BIO_new_file(keyFile.c_str(), "rb"));
  if (keyText) signer.key.reset(PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr));
  if (!signer.key) return fail("cannot read the key " + keyFile);
  if (X509_check_private_key(signer.certificate.get(), signer.key.get()) != 1) {
    return fail("the key does not belong to the certificate");
  }
  return true;
}

bool writeAll(int fd, const void* data, size_t size) {
  const char* cursor = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, cursor, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    cursor += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the first `length` bytes of `from` to the open descriptor.
bool copyPrefix(const std::string& from, std::uint64_t length, int to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return failErrno("cannot open " + from);
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  while (ok && length > 0) {
    size_t want = static_cast<size_t>(std::min<std::uint64_t>(buffer.size(), length));
    ssize_t n = ::read(in, buffer.data(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0 ? fail(from + " became shorter while it was read") : failErrno("cannot read " + from);
      break;
    }
    if (!writeAll(to, buffer.data(), static_cast<size_t>(n))) ok = failErrno("cannot write");
    length -= static_cast<std::uint64_t>(n);
  }
  ::close(in);
  return ok;
}

// The DER signature over the whole content of `contentFile`.
bool signContent(const std::string& contentFile, const Signer& signer, std::string& der) {
  BioPtr content(BIO_new_file(contentFile.c_str(), "rb"));
  if (!content) return fail("cannot reopen the content");
  CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_PARTIAL | CMS_BINARY | CMS_DETACHED));
  if (!cms) return fail("cannot start the signature");
  if (!CMS_add1_signer(cms.get(), signer.certificate.get(), signer.key.get(), EVP_sha256(),
                       CMS_BINARY | CMS_NOATTR | CMS_NOSMIMECAP)) {
    return fail("cannot add the signer");
  }
  if (CMS_final(cms.get(), content.get(), nullptr, CMS_BINARY | CMS_DETACHED) != 1) {
    return fail("cannot sign the content");
  }
  unsigned char* bytes = nullptr;
  int length = i2d_CMS_ContentInfo(cms.get(), &bytes);
  if (length <= 0) return fail("cannot encode the signature");
  der.assign(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
  OPENSSL_free(bytes);
  if (der.size() > platform::kMaxSignatureBytes) return fail("the signature is too large");
  return true;
}

bool signFile(const std::string& in, const std::string& out, const Signer& signer) {
  platform::SignatureLayout layout;
  if (!platform::readSignatureLayoutOfHostFile(in, layout)) return failErrno("cannot read " + in);
  if (layout.kind == platform::SignatureLayout::Kind::Damaged) {
    return fail(in + " ends in a damaged signature (" + layout.reason + "); not signing it");
  }
  struct stat st;
  if (::stat(in.c_str(), &st) != 0) return failErrno("cannot read " + in);

  std::filesystem::path outPath(out);
  std::string folder = outPath.has_parent_path() ? outPath.parent_path().string() : ".";
  std::string temporary = folder + "/.standin-sign-XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return failErrno("cannot create a file in " + folder);

  std::string der;
  bool ok = copyPrefix(in, layout.contentLength, fd) && signContent(temporary, signer, der);
  if (ok) {
    std::string tail = der + platform::signatureTrailer(static_cast<std::uint32_t>(der.size())) +
                       platform::kSignatureMarker;
    ok = writeAll(fd, tail.data(), tail.size()) || failErrno("cannot write the signature");
  }
  if (ok) ok = (::fchmod(fd, st.st_mode & 07777) == 0 && ::fsync(fd) == 0) || failErrno("cannot finish");
  if (::close(fd) != 0 && ok) ok = failErrno("cannot finish");
  if (ok && ::rename(temporary.c_str(), out.c_str()) != 0) ok = failErrno("cannot write " + out);
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  std::string cert, key;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--cert" || arg == "--key") && i + 1 < argc) {
      (arg == "--cert" ? cert : key) = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return usage(("unknown option " + arg).c_str());
    } else {
      files.push_back(arg);
    }
  }
  if (cert.empty() || key.empty()) return usage("--cert and --key are required");
  if (files.empty() || files.size() > 2) return usage("name the file to sign (and where to write it)");

  Signer signer;
  if (!loadSigner(cert, key, signer)) return 1;
  return signFile(files[0], files.size() == 2 ? files[1] : files[0], signer) ? 0 : 1;
}
