// The machine identifier on a sandbox machine: its registry, its identity
// file, its adapters, and a mutex held by another process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <random>
#include <regex>

#include "config/adapter_digest.h"
#include "config/aes_utils.h"
#include "config/base64.h"
#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "log_capture.h"
#include "platform/code_pages.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"
#include "utility/reg_key.h"

extern char** environ;

namespace {

using vireo::testing::LogCapture;
using vireo::testing::Sandbox;

constexpr const char* kTwoAdapters = R"("adapters": ["00-1A-2B-3C-4D-5E", "00-0A-0B-0C-0D-0E"])";
const std::string kTwoAdapterDigest = "2-c66c56a5a14b38fefa1beb46a6040a17";
const std::string kOneAdapterDigest = "7598b725a578ee13656d280b6520f326";  // 001A2B3C4D5E

const unsigned char* u(const std::string& b) {
  return reinterpret_cast<const unsigned char*>(b.data());
}

// The stored form of a plaintext, made the way the emulator family makes it.
std::string protectedValue(const std::string& plain) {
  std::string cipher;
  AESUtils::aes_encrypt(u(plain), plain.size(), cipher);
  return base64Encode(u(cipher), cipher.size());
}

std::string withChecks(const std::string& id) { return id + id[6] + id[12] + id[20]; }

class IdentityTest : public ::testing::Test {
 protected:
  void TearDown() override {
    config().pcid.clear();
    platform::installMachineProfile({});
  }

  void useMachine(const std::string& extraJson) {
    box_ = std::make_unique<Sandbox>(std::vector<vireo::testing::SandboxDrive>{{'C', ""}},
                                     extraJson);
    box_->installInProcess();
    config().pcid.clear();
  }
  void changeMachine(const std::string& extraJson) {
    box_->rewriteProfile(extraJson);
    box_->installInProcess();
  }

  static ConfigImp& config() { return *ConfigImp::getInstance(); }

  static std::string readValue(const char* name) {
    utility::RegKey key;
    std::string value;
    if (key.RegRegOpen(HKEY_CURRENT_USER, contract::kIdentityKey, KEY_READ) == ERROR_SUCCESS) {
      key.RegRead(name, value);
    }
    return value;
  }
  static void writeValue(const char* name, const std::string& value) {
    utility::RegKey key;
    ASSERT_EQ(key.RegCreate(HKEY_CURRENT_USER, contract::kIdentityKey), ERROR_SUCCESS);
    ASSERT_EQ(key.RegWrite(name, value), ERROR_SUCCESS);
  }
  void writeIdentityFile(const std::string& bytes) {
    vireo::testing::writeHostFile(box_->appDataHost() + "/halvard_tallis.data", bytes);
  }

  // The plaintext that the stored "pcidex" deciphers to.
  static std::string storedPlaintext() {
    std::string cipher = base64Decode(readValue(contract::kPcidexValue));
    std::string plain;
    AESUtils::aes_decrypt(u(cipher), cipher.size(), plain);
    return plain;
  }

  std::unique_ptr<Sandbox> box_;
};

TEST_F(IdentityTest, FirstRunStoresTheProtectedFormAndLaterRunsReadIt) {
  LogCapture log;
  useMachine(kTwoAdapters);
  EXPECT_EQ(config().getPCIDNew(), L"2-c66c56a5a14b38fefa1beb46a6040a17");
  EXPECT_TRUE(LogCapture::has("ConfigImp::getPCIDNew", L"read pcmac from  user reg error "));
  EXPECT_EQ(storedPlaintext(), withChecks(kTwoAdapterDigest));

  // Other adapters now: a later run still finds the stored identifier.
  changeMachine(R"("adapters": ["02-00-00-00-00-01"])");
  EXPECT_EQ(config().getPCIDNew(), L"2-c66c56a5a14b38fefa1beb46a6040a17") << "cached";
  config().pcid.clear();
  EXPECT_EQ(config().getPCIDNew(), L"2-c66c56a5a14b38fefa1beb46a6040a17") << "from pcidex";
}

TEST_F(IdentityTest, AdapterListAndDigest) {
  struct Case {
    const char* adapters;
    std::vector<std::wstring> list;
    std::string digest;
  } cases[] = {
      {R"(["00-1A-2B-3C-4D-5E", "00-0A-0B-0C-0D-0E"])", {L"001A2B3C4D5E", L"000A0B0C0D0E"},
       kTwoAdapterDigest},
      {R"(["00-1a-2b-3c-4d-5e"])", {L"001A2B3C4D5E"}, kOneAdapterDigest},
      {R"(["00-00-00-00-00-00", "00-1A-2B-3C-4D-5E", "00:00:00:00:00:00:00:00"])",
       {L"001A2B3C4D5E"}, kOneAdapterDigest},
      // Only bytes 7 and 8 set: kept, but the text shows the first six.
      {R"(["00:00:00:00:00:00:00:01"])", {L"000000000000"}, ""},
      {R"(["00-00-00-00-00-00"])", {}, ""},
      {"[]", {}, ""},
  };
  for (const auto& c : cases) {
    useMachine(std::string(R"("adapters": )") + c.adapters);
    SCOPED_TRACE(c.adapters);
    EXPECT_EQ(getMacAddressList(), c.list);
    if (c.list.size() == 1 && c.digest.empty()) continue;
    EXPECT_EQ(getMacDigest(), c.digest);
  }

  // Duplicates stay and count.
  useMachine(R"("adapters": ["00-1A-2B-3C-4D-5E", "00-1A-2B-3C-4D-5E", "00-0A-0B-0C-0D-0E"])");
  EXPECT_EQ(getMacAddressList().size(), 3u);
  EXPECT_EQ(getMacDigest().substr(0, 2), "3-");
}

TEST_F(IdentityTest, WithoutUsableAdaptersTheIdentifierIsAGuid) {
  for (const char* adapters : {R"(["00-00-00-00-00-00"])", "[]"}) {
    useMachine(std::string(R"("adapters": )") + adapters);
    std::wstring id = config().getPCIDNew();
    EXPECT_TRUE(std::regex_match(platform::wideToUtf8(id),
                                 std::regex("[0-9A-F]{8}_[0-9A-F]{4}_[0-9a-f]{4}_[0-9A-F]{4}_[0-9A-F]{12}")))
        << platform::wideToUtf8(id);
    EXPECT_EQ(storedPlaintext(), withChecks(platform::wideToUtf8(id)));
  }
}

TEST_F(IdentityTest, AStoredValueThatDoesNotCheckOutIsReplaced) {
  const std::string other = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 characters
  std::mt19937 g(11);
  std::string noise(48, '\0');
  for (auto& c : noise) c = static_cast<char>(g());

  struct Case {
    const char* what;
    std::string stored;
    std::string expected;
  } cases[] = {
      {"accepted", protectedValue(withChecks(other)), other},
      {"not Base64", "!!!!", kTwoAdapterDigest},
      {"wrong length", base64Encode(u(noise), 47), kTwoAdapterDigest},
      {"random blocks", base64Encode(u(noise), 48), kTwoAdapterDigest},
      {"wrong checks", protectedValue(other + "xyz"), kTwoAdapterDigest},
      {"30 bytes deciphered", protectedValue(withChecks(other.substr(0, 27))), kTwoAdapterDigest},
      {"checks only", protectedValue("abc"), kTwoAdapterDigest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useMachine(kTwoAdapters);
    writeValue(contract::kPcidexValue, c.stored);
    EXPECT_EQ(platform::wideToUtf8(config().getPCIDNew()), c.expected);
    EXPECT_EQ(storedPlaintext(), withChecks(c.expected));
  }
}

TEST_F(IdentityTest, PlainRegistryValueCountsWithoutSpaces) {
  EXPECT_FALSE(ConfigImp::isValidPCID(std::string(29, 'a') + "      "));
  EXPECT_TRUE(ConfigImp::isValidPCID(std::string(30, 'a')));
  EXPECT_FALSE(ConfigImp::isValidPCID(""));

  struct Case {
    std::string pcid, expected;
  } cases[] = {
      {std::string(29, 'p') + "     ", kTwoAdapterDigest},
      {" " + std::string(15, 'p') + "  " + std::string(15, 'q') + " ",
       " " + std::string(15, 'p') + "  " + std::string(15, 'q') + " "},
      {"", kTwoAdapterDigest},
  };
  for (const auto& c : cases) {
    useMachine(kTwoAdapters);
    writeValue(contract::kPcidValue, c.pcid);
    EXPECT_EQ(config().getPCIDOld(), c.expected) << c.pcid;
    EXPECT_EQ(platform::wideToUtf8(config().getPCIDNew()), c.expected);
    EXPECT_EQ(readValue(contract::kPcidValue), c.pcid) << "pcid is never written";
  }
}

TEST_F(IdentityTest, IdentityFileIsConsideredFrom31Bytes) {
  const std::string a31(31, 'f');
  struct Case {
    const char* what;
    std::string bytes, expected;
  } cases[] = {
      {"30 bytes", std::string(30, 'f'), kTwoAdapterDigest},
      {"31 bytes", a31, a31},
      {"long: 128 bytes read", std::string(300, 'g'), std::string(128, 'g')},
      {"zero byte early", std::string(10, 'h') + '\0' + std::string(40, 'h'), kTwoAdapterDigest},
      {"zero byte late", std::string(35, 'h') + '\0' + "tail", std::string(35, 'h')},
      {"spaces do not count", std::string(20, 'i') + std::string(15, ' '), kTwoAdapterDigest},
      {"empty", "", kTwoAdapterDigest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useMachine(kTwoAdapters);
    writeIdentityFile(c.bytes);
    EXPECT_EQ(config().getPCIDOld(), c.expected);
  }

  // The registry's plain value comes first.
  useMachine(kTwoAdapters);
  writeIdentityFile(a31);
  writeValue(contract::kPcidValue, std::string(30, 'r'));
  EXPECT_EQ(config().getPCIDOld(), std::string(30, 'r'));
}

TEST_F(IdentityTest, AnyBytesInTheIdentityFileGiveAValidIdentifier) {
  std::mt19937 g(5);
  for (size_t size : {1u, 29u, 31u, 64u, 127u, 128u, 129u, 4096u}) {
    useMachine(kTwoAdapters);
    std::string junk(size, '\0');
    for (auto& c : junk) c = static_cast<char>(g() % 3 ? g() : 0);
    writeIdentityFile(junk);
    std::string id = config().getPCIDOld();
    EXPECT_TRUE(ConfigImp::isValidPCID(id)) << size;
    EXPECT_LE(id.size(), 128u);
  }
}

// A child process of the product family holding the identity mutex.
class MutexHolder {
 public:
  explicit MutexHolder(const Sandbox& box) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = std::string(VIREO_BIN_DIR) + "/identity-mutex-holder";
    std::string profile = "VIREO_PROFILE=" + box.profilePath();
    char* argv[] = {program.data(), nullptr};
    char* envp[] = {profile.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    char answer[5] = {};
    EXPECT_EQ(read(out[0], answer, 4), 4);
    close(out[0]);
    held_ = std::string(answer) == "held";
  }
  ~MutexHolder() {
    close(stdin_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool held() const { return held_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  bool held_ = false;
};

TEST_F(IdentityTest, AMutexHeldElsewhereIsWaitedForWithinTheBoundThenTheFileIsRead) {
  LogCapture log;
  useMachine(std::string(kTwoAdapters) + R"(, "timeouts": {"identityMutex": 400})");
  writeIdentityFile(std::string(40, 'm'));
  MutexHolder holder(*box_);
  ASSERT_TRUE(holder.held());

  auto start = std::chrono::steady_clock::now();
  std::string id = config().getPCIDOld();
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(id, std::string(40, 'm'));
  EXPECT_GE(waited, std::chrono::milliseconds(400));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_TRUE(LogCapture::has("ConfigImp::getPCIDOld", L"identity mutex still held after 400 ms"));
}

TEST_F(IdentityTest, AFreeMutexIsTakenAtOnce) {
  LogCapture log;
  useMachine(std::string(kTwoAdapters) + R"(, "timeouts": {"identityMutex": 5000})");
  writeIdentityFile(std::string(40, 'm'));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(config().getPCIDOld(), std::string(40, 'm'));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(LogCapture::has("ConfigImp::getPCIDOld", L"identity mutex"));
}

}  // namespace
