// Shared steps of the signing tests: files in a temporary folder, signing
// with the real standin-sign program, and the bytes of the appended layout.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "platform/code_signing.h"
#include "support/sandbox.h"
#include "test_pki.h"

namespace platform {
// Failure messages name the status.
inline void PrintTo(SignatureStatus status, std::ostream* out) { *out << signatureStatusName(status); }
}  // namespace platform

namespace vireo::testing {

inline int runCommand(const std::string& command) {
  int status = std::system((command + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

inline std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

// A program-like file of `size` bytes (a fixed pattern with some variety).
inline std::string programBytes(size_t size, unsigned seed = 7) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

// Runs standin-sign; OUT empty signs in place. Returns its exit code.
inline int signWith(const Credentials& signer, const std::string& in, const std::string& out = "") {
  std::string command = VIREO_BIN_DIR;
  command.append("/standin-sign --cert ").append(shellQuoted(signer.certFile));
  command.append(" --key ").append(shellQuoted(signer.keyFile));
  command.append(" ").append(shellQuoted(in));
  if (!out.empty()) command.append(" ").append(shellQuoted(out));
  return runCommand(command);
}

// The appended tail for a DER signature.
inline std::string appendedTail(const std::string& der) {
  return der + platform::signatureTrailer(static_cast<std::uint32_t>(der.size())) +
         platform::kSignatureMarker;
}

// The DER signature of a signed file.
inline std::string signatureOf(const std::string& signedFile) {
  platform::SignatureLayout layout;
  EXPECT_TRUE(platform::readSignatureLayoutOfHostFile(signedFile, layout));
  EXPECT_EQ(layout.kind, platform::SignatureLayout::Kind::Signed) << layout.reason;
  return readHostFile(signedFile).substr(layout.contentLength, layout.signatureLength);
}

inline platform::SignatureStatus statusOf(const std::string& file, const std::string& trustedPem) {
  return platform::checkEmbeddedSignatureOfHostFile(file, trustedPem).status;
}

// A sandbox folder with a publisher CA and a signer issued by it.
class SigningTest : public ::testing::Test {
 protected:
  SigningTest()
      : folder_(sandbox_.folder()),
        ca_(makeCa(folder_, "Test Publisher CA")),
        signer_(makeSigner(folder_, "Test Signer", ca_)) {}

  std::string file(const std::string& name) const { return folder_ + "/" + name; }
  std::string makeProgram(const std::string& name, size_t size = 64 * 1024, unsigned seed = 7) const {
    writeHostFile(file(name), programBytes(size, seed));
    return file(name);
  }
  std::string caPem() const { return readHostFile(ca_.certFile); }

  Sandbox sandbox_;
  std::string folder_;
  Credentials ca_;
  Credentials signer_;
};

}  // namespace vireo::testing
