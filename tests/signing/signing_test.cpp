// Signing with standin-sign and checking with the platform: the round trip,
// byte-identity with the openssl command line, re-signing, tampering, and
// files that cannot be read.
#include <sys/stat.h>

#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "signing_support.h"

namespace vireo::testing {
namespace {

using platform::SignatureStatus;

TEST_F(SigningTest, SignedFileVerifiesAndKeepsItsContent) {
  std::string program = makeProgram("program.exe", 100 * 1024);
  chmod(program.c_str(), 0751);
  std::string original = readHostFile(program);
  ASSERT_EQ(signWith(signer_, program), 0);

  platform::SignatureCheck check = platform::checkEmbeddedSignatureOfHostFile(program, caPem());
  EXPECT_EQ(check.status, SignatureStatus::Ok) << check.reason;
  EXPECT_EQ(check.signerSubject, signer_.subject);

  std::string signedBytes = readHostFile(program);
  EXPECT_EQ(signedBytes.substr(0, original.size()), original);
  EXPECT_EQ(signedBytes.substr(signedBytes.size() - platform::kSignatureMarkerSize),
            platform::kSignatureMarker);
  struct stat st;
  ASSERT_EQ(stat(program.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u) << "signing keeps the permissions";
}

TEST_F(SigningTest, SignatureIsByteIdenticalToTheOpensslCommandLine) {
  // RSA signatures are deterministic (ECDSA ones are not), so the bytes can
  // be compared.
  Credentials rsaSigner = makeSigner(folder_, "RSA Signer", ca_, {}, KeyKind::Rsa);
  std::string program = makeProgram("program.exe");
  ASSERT_EQ(signWith(rsaSigner, program, file("signed.exe")), 0);
  ASSERT_EQ(runCommand("openssl cms -sign -binary -noattr -md sha256 -in " + shellQuoted(program) +
                       " -signer " + shellQuoted(rsaSigner.certFile) + " -inkey " +
                       shellQuoted(rsaSigner.keyFile) + " -outform DER -out " + shellQuoted(file("cli.der"))),
            0);
  EXPECT_EQ(signatureOf(file("signed.exe")), readHostFile(file("cli.der")));
}

TEST_F(SigningTest, ResigningReplacesTheOldSignature) {
  std::string program = makeProgram("program.exe");
  std::string original = readHostFile(program);
  ASSERT_EQ(signWith(signer_, program), 0);
  std::string onceSigned = readHostFile(program);

  Credentials otherCa = makeCa(folder_, "Other CA");
  Credentials otherSigner = makeSigner(folder_, "Other Signer", otherCa);
  ASSERT_EQ(signWith(otherSigner, program, file("resigned.exe")), 0);

  platform::SignatureLayout layout;
  ASSERT_TRUE(platform::readSignatureLayoutOfHostFile(file("resigned.exe"), layout));
  EXPECT_EQ(layout.contentLength, original.size());
  EXPECT_EQ(readHostFile(file("resigned.exe")).substr(0, original.size()), original);
  EXPECT_EQ(statusOf(file("resigned.exe"), readHostFile(otherCa.certFile)), SignatureStatus::Ok);
  EXPECT_EQ(statusOf(file("resigned.exe"), caPem()), SignatureStatus::UntrustedSigner);
  EXPECT_EQ(readHostFile(program), onceSigned) << "IN is left alone when OUT is given";
}

TEST_F(SigningTest, ARefusedSigningLeavesNothingBehind) {
  std::string program = makeProgram("program.exe");
  std::string original = readHostFile(program);
  Credentials otherCa = makeCa(folder_, "Other CA");
  Credentials mismatched{signer_.certFile, otherCa.keyFile, {}};
  EXPECT_EQ(signWith(mismatched, program), 1) << "a key of another certificate is refused";
  EXPECT_EQ(readHostFile(program), original);

  // A file that ends in a damaged signature is not signed over.
  writeHostFile(file("damaged.exe"), original + platform::signatureTrailer(1u << 30) +
                                         platform::kSignatureMarker);
  EXPECT_EQ(signWith(signer_, file("damaged.exe"), file("out.exe")), 1);
  EXPECT_FALSE(hostFileExists(file("out.exe")));
  EXPECT_EQ(signWith(signer_, file("missing.exe")), 1);
  EXPECT_EQ(runCommand(std::string(VIREO_BIN_DIR) + "/standin-sign " + shellQuoted(program)), 2);
}

TEST_F(SigningTest, AnyChangedContentByteBreaksTheSignature) {
  std::string program = makeProgram("program.exe", 10000);
  ASSERT_EQ(signWith(signer_, program), 0);
  const std::string signedBytes = readHostFile(program);
  for (size_t offset : {size_t{0}, size_t{4999}, size_t{9999}}) {
    std::string tampered = signedBytes;
    tampered[offset] = static_cast<char>(tampered[offset] ^ 0x01);
    writeHostFile(file("tampered.exe"), tampered);
    EXPECT_EQ(statusOf(file("tampered.exe"), caPem()), SignatureStatus::BadSignature)
        << "byte " << offset;
  }
  // A byte inserted into the content shifts nothing else, and still breaks it.
  std::string longer = signedBytes.substr(0, 100);
  longer.push_back('x');
  longer.append(signedBytes, 100);
  writeHostFile(file("longer.exe"), longer);
  EXPECT_EQ(statusOf(file("longer.exe"), caPem()), SignatureStatus::BadSignature);
}

TEST_F(SigningTest, FilesThatCannotBeReadAreUnreadable) {
  EXPECT_EQ(statusOf(file("missing.exe"), caPem()), SignatureStatus::Unreadable);
  EXPECT_EQ(statusOf(folder_, caPem()), SignatureStatus::Unreadable) << "a folder";
}

TEST_F(SigningTest, WindowsPathsAreCheckedThroughTheDriveTable) {
  sandbox_.installInProcess();
  std::string program = sandbox_.driveRoot('C') + "/Program Files/app.exe";
  writeHostFile(program, programBytes(5000));
  ASSERT_EQ(signWith(signer_, program), 0);
  EXPECT_EQ(platform::checkEmbeddedSignature(L"C:\\Program Files\\app.exe", caPem()).status,
            SignatureStatus::Ok);
  EXPECT_EQ(platform::checkEmbeddedSignature(L"Q:\\app.exe", caPem()).status, SignatureStatus::Unreadable)
      << "no such drive";
  platform::installMachineProfile({});
  platform::resetDriveTable();
}

}  // namespace
}  // namespace vireo::testing
