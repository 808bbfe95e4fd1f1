// Whom a signature is trusted from: a signer that chains to one of the
// trusted publisher certificates, with only certificate date errors
// forgiven; and which publisher certificates the installer trusts.
#include <cstdlib>
#include <filesystem>

#include "config/publisher_certificate.h"
#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "signing_support.h"

namespace vireo::testing {
namespace {

using platform::SignatureStatus;

TEST_F(SigningTest, TrustNeedsAChainToATrustedCertificate) {
  std::string program = makeProgram("program.exe");
  ASSERT_EQ(signWith(signer_, program), 0);
  Credentials otherCa = makeCa(folder_, "Other CA");
  const std::string otherPem = readHostFile(otherCa.certFile);
  struct Case {
    const char* name;
    std::string trusted;
    SignatureStatus expected;
  };
  const Case cases[] = {
      {"the issuing CA", caPem(), SignatureStatus::Ok},
      {"another CA", otherPem, SignatureStatus::UntrustedSigner},
      {"a bundle holding the issuing CA", otherPem + caPem(), SignatureStatus::Ok},
      {"the signer itself", readHostFile(signer_.certFile), SignatureStatus::Ok},
      {"nothing", "", SignatureStatus::UntrustedSigner},
      {"text that is no certificate", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n",
       SignatureStatus::UntrustedSigner},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(statusOf(program, c.trusted), c.expected) << c.name;
  }
}

TEST_F(SigningTest, SignerFromAnotherCaIsUntrustedEvenWhenItCarriesItsCa) {
  std::string elsewhere = folder_ + "/impostor";
  std::filesystem::create_directories(elsewhere);
  Credentials otherCa = makeCa(elsewhere, "Test Publisher CA");  // the same name, another key
  Credentials impostor = makeSigner(elsewhere, "Test Signer", otherCa);
  std::string program = makeProgram("program.exe");
  ASSERT_EQ(signWith(impostor, program), 0);
  platform::SignatureCheck check = platform::checkEmbeddedSignatureOfHostFile(program, caPem());
  EXPECT_EQ(check.status, SignatureStatus::UntrustedSigner);
  EXPECT_FALSE(check.reason.empty());
}

TEST_F(SigningTest, OnlyDateErrorsAreForgiven) {
  struct Case {
    const char* name;
    Validity ca, signer;
  };
  const Case cases[] = {
      {"expired signer", {-60, 60}, {-30, -1}},
      {"signer not yet valid", {-60, 60}, {10, 40}},
      {"expired publisher", {-60, -2}, {-30, 30}},
      {"publisher not yet valid, signer expired", {5, 60}, {-30, -1}},
  };
  for (const Case& c : cases) {
    Credentials ca = makeCa(folder_, std::string(c.name) + " CA", c.ca);
    Credentials signer = makeSigner(folder_, std::string(c.name) + " signer", ca, c.signer);
    std::string program = makeProgram("program.exe");
    ASSERT_EQ(signWith(signer, program), 0) << c.name;
    platform::SignatureCheck check =
        platform::checkEmbeddedSignatureOfHostFile(program, readHostFile(ca.certFile));
    EXPECT_EQ(check.status, SignatureStatus::Ok) << c.name << ": " << check.reason;
  }

  // A signer issued by a certificate that is no CA is refused, dates or not.
  Credentials notACa = makeSigner(folder_, "Not a CA", ca_);
  Credentials underIt = makeSigner(folder_, "Under a non-CA", notACa);
  std::string program = makeProgram("program.exe");
  ASSERT_EQ(signWith(underIt, program), 0);
  EXPECT_EQ(statusOf(program, caPem()), SignatureStatus::UntrustedSigner);
  EXPECT_EQ(statusOf(program, readHostFile(notACa.certFile)), SignatureStatus::UntrustedSigner);
}

// --- The installer's publisher certificates ---------------------------------

class PublisherCertificateTest : public ::testing::Test {
 protected:
  ~PublisherCertificateTest() override {
    platform::installMachineProfile({});
    platform::resetDriveTable();
  }
  void useProfile(const Sandbox& sandbox) { sandbox.installInProcess(); }

  static std::string releaseInstaller(const char* name) {
    return std::string(VIREO_BIN_DIR) + "/standin-release/" + name;
  }
};

TEST_F(PublisherCertificateTest, WithoutAProfileTheBuildsPublisherIsTrusted) {
  platform::installMachineProfile({});
  std::string pem = config::publisherCertificatesPem();
  EXPECT_EQ(pem, config::builtInPublisherCertificatePem());
  EXPECT_EQ(pem, readHostFile(std::string(VIREO_PUBLISHER_DIR) + "/publisher-ca.crt"));
  for (const char* name : {"zkinst3.0.exe", "zkinst4.0.exe", "zkinst64.exe", "zkinst9.0.exe",
                           "zkinst5.0.exe", "zkinst5(64).exe"}) {
    platform::SignatureCheck check = platform::checkEmbeddedSignatureOfHostFile(releaseInstaller(name), pem);
    EXPECT_EQ(check.status, SignatureStatus::Ok) << name << ": " << check.reason;
  }
}

TEST_F(PublisherCertificateTest, TheProfilesPublisherReplacesTheBuiltInOne) {
  Sandbox sandbox;
  Credentials ca = makeCa(sandbox.folder(), "Profile Publisher");
  sandbox.rewriteProfile("\"publisherCA\": \"" + ca.certFile + "\"");
  useProfile(sandbox);
  EXPECT_EQ(config::publisherCertificatesPem(), readHostFile(ca.certFile));
  EXPECT_EQ(statusOf(releaseInstaller("zkinst9.0.exe"), config::publisherCertificatesPem()),
            SignatureStatus::UntrustedSigner);
}

TEST_F(PublisherCertificateTest, AnUnreadableProfileCertificateTrustsNobody) {
  Sandbox sandbox;
  sandbox.rewriteProfile("\"publisherCA\": \"" + sandbox.folder() + "/missing.crt\"");
  useProfile(sandbox);
  EXPECT_EQ(config::publisherCertificatesPem(), "");
  EXPECT_EQ(statusOf(releaseInstaller("zkinst9.0.exe"), config::publisherCertificatesPem()),
            SignatureStatus::UntrustedSigner);
}

}  // namespace
}  // namespace vireo::testing
