// Files whose appended signature is missing, cut short, lying about its
// length, not DER, or not the expected PKCS#7 structure: each gets its own
// failure, without a crash or a read outside the file.
#include <fcntl.h>
#include <unistd.h>


#include "signing_support.h"

namespace vireo::testing {
namespace {

using platform::SignatureStatus;

std::string trailerWithLength(std::uint32_t length) {
  return platform::signatureTrailer(length) + platform::kSignatureMarker;
}

class HostileSignatureTest : public SigningTest {
 protected:
  HostileSignatureTest() {
    content_ = programBytes(20000);
    writeHostFile(file("good.exe"), content_);
    EXPECT_EQ(signWith(signer_, file("good.exe")), 0);
    der_ = signatureOf(file("good.exe"));
  }

  SignatureStatus statusOfBytes(const std::string& bytes) {
    writeHostFile(file("case.exe"), bytes);
    return statusOf(file("case.exe"), caPem());
  }

  std::string content_, der_;
};

TEST_F(HostileSignatureTest, DamagedLayoutsAreTold) {
  const std::string marker = platform::kSignatureMarker;
  std::string pkcs7WrongType = platform::signatureTrailer(static_cast<std::uint32_t>(der_.size()));
  pkcs7WrongType[2] = 1;  // identifier type other than PKCS#7
  struct Case {
    const char* name;
    std::string bytes;
    SignatureStatus expected;
  };
  const Case cases[] = {
      {"unsigned program", content_, SignatureStatus::NoSignature},
      {"empty file", "", SignatureStatus::NoSignature},
      {"marker alone", marker, SignatureStatus::Malformed},
      {"trailer cut short", "abc" + marker, SignatureStatus::Malformed},
      {"length before the start", content_ + trailerWithLength(static_cast<std::uint32_t>(content_.size()) + 1),
       SignatureStatus::Malformed},
      {"length zero", content_ + trailerWithLength(0), SignatureStatus::Malformed},
      {"length 4 GiB - 1", content_ + trailerWithLength(0xFFFFFFFFu), SignatureStatus::Malformed},
      {"not a PKCS#7 trailer", content_ + der_ + pkcs7WrongType + marker, SignatureStatus::Malformed},
      {"garbage instead of DER", content_ + appendedTail(programBytes(300, 99)), SignatureStatus::Malformed},
      {"bytes after the DER", content_ + appendedTail(der_ + "xx"), SignatureStatus::Malformed},
      {"DER cut short", content_ + appendedTail(der_.substr(0, der_.size() - 10)), SignatureStatus::Malformed},
      {"signature of other content", programBytes(20000, 3) + appendedTail(der_), SignatureStatus::BadSignature},
      {"signature over nothing", appendedTail(der_), SignatureStatus::BadSignature},
      {"intact", content_ + appendedTail(der_), SignatureStatus::Ok},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(statusOfBytes(c.bytes), c.expected) << c.name;
  }
}

TEST_F(HostileSignatureTest, StructuresOtherThanOneDetachedSignerAreMalformedOrMissTheSigner) {
  std::string in = shellQuoted(file("good.exe.content"));
  writeHostFile(file("good.exe.content"), content_);
  std::string signer = " -signer " + shellQuoted(signer_.certFile) + " -inkey " + shellQuoted(signer_.keyFile);
  struct Case {
    const char* name;
    std::string opensslArguments;
    SignatureStatus expected;
  };
  const Case cases[] = {
      {"no certificates", "cms -sign -binary -noattr -nocerts -md sha256" + signer, SignatureStatus::SignerNotFound},
      {"content inside", "cms -sign -binary -noattr -nodetach -md sha256" + signer, SignatureStatus::Malformed},
      {"plain data", "cms -data_create -binary", SignatureStatus::Malformed},
      {"two signers", "cms -sign -binary -noattr -md sha256" + signer + " -signer " +
                          shellQuoted(makeSigner(folder_, "Second", ca_).certFile) + " -inkey " +
                          shellQuoted(folder_ + "/Second.key"),
       SignatureStatus::Malformed},
      {"with signed attributes", "cms -sign -binary -md sha256" + signer, SignatureStatus::Ok},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(runCommand("openssl " + c.opensslArguments + " -in " + in + " -outform DER -out " +
                         shellQuoted(file("case.der"))),
              0)
        << c.name;
    EXPECT_EQ(statusOfBytes(content_ + appendedTail(readHostFile(file("case.der")))), c.expected) << c.name;
  }
}

TEST_F(HostileSignatureTest, HugeSparseFilesAreJudgedFromTheirTrailer) {
  // 6 GiB that take no disk space: only the trailer and the claimed
  // signature are read.
  constexpr off_t kHuge = off_t{6} << 30;
  for (const std::string& tail : {appendedTail(programBytes(500, 5)), trailerWithLength(0xFFFFFFF0u)}) {
    std::string path = file("huge.exe");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), kHuge), static_cast<ssize_t>(tail.size()));
    ::close(fd);
    EXPECT_EQ(statusOf(path, caPem()), SignatureStatus::Malformed);
  }
}

}  // namespace
}  // namespace vireo::testing
