// The machine identifier (PCID): looked up where the emulator family keeps it,
// computed from the network adapters when none is found, and stored
// protected in the registry so that later runs find the same value.
#include <cstring>
#include <random>

#include "config/adapter_digest.h"
#include "config/aes_utils.h"
#include "config/base64.h"
#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/reg_key.h"
#include "utility/ufile.h"
#include "utility/usystem.h"
#include "utility/ustring.h"

namespace {

constexpr DWORD kIdentityAccess = KEY_READ | KEY_WOW64_64KEY;  // 0x20119
constexpr size_t kMinimumLength = 30;        // non-space characters of a valid identifier
constexpr std::uint32_t kIdentityFileBytes = 128;
constexpr std::uint32_t kMutexBoundMs = 3000;
constexpr std::uint32_t kMutexPauseMs = 25;

// The three check characters that follow the identifier in the protected form.
constexpr size_t kCheck1 = 6, kCheck2 = 12, kCheck3 = 20;

// The identifier in a "pcidex" value, or empty when the value does not
// decipher to an identifier with matching check characters.
std::string unprotect(const std::string& value) {
  std::string cipher = base64Decode(value);
  std::string plain;
  // The status is not looked at: the check characters decide.
  AESUtils::aes_decrypt(reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size(),
                        plain);
  size_t n = plain.size();
  if (n <= kMinimumLength) return {};
  if (plain[kCheck1] != plain[n - 3] || plain[kCheck2] != plain[n - 2] ||
      plain[kCheck3] != plain[n - 1]) {
    return {};
  }
  return plain.substr(0, n - 3);
}

// The "pcidex" text for an identifier; empty when it is too short to carry
// the check characters.
std::string protect(const std::string& id) {
  if (id.size() <= kCheck3) return {};
  std::string plain = id + id[kCheck1] + id[kCheck2] + id[kCheck3];
  std::string cipher;
  if (!AESUtils::aes_encrypt(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                             cipher)) {
    return {};
  }
  return base64Encode(reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size());
}

// The mutex that serialises the identity file among the product's programs.
// Tries with a pause between attempts, up to a bound; empty when another
// process kept it that long.
utility::usystem::MutexHandle acquireIdentityMutex() {
  const std::uint32_t bound = platform::scaledWaitMs("identityMutex", kMutexBoundMs);
  const std::uint32_t start = platform::tickCount();
  for (;;) {
    auto mutex = utility::usystem::createNamedMutex(contract::kIdentityMutex, true, true);
    if (mutex) return mutex;
    if (platform::tickCount() - start >= bound) return nullptr;
    platform::sleepMs(kMutexPauseMs);
  }
}

// The identifier in the shared identity file, or empty. At most 128 bytes are
// read, and the text never reaches beyond them.
std::string readIdentityFile() {
  auto mutex = acquireIdentityMutex();
  if (!mutex) {
    VLOG_AS("ConfigImp::getPCIDOld", L"identity mutex still held after %u ms, reading without it",
            platform::scaledWaitMs("identityMutex", kMutexBoundMs));
  }
  std::string id;
  utility::ufile::File file;
  if (file.openRead(utility::ufile::getAppDataDir() + L"\\" + contract::kIdentityFile)) {
    char buffer[kIdentityFileBytes];
    std::uint32_t got = file.read(buffer, sizeof buffer);
    if (got > kMinimumLength) {
      std::string text(buffer, strnlen(buffer, got));
      if (ConfigImp::isValidPCID(text)) id = text;
    }
    file.close();
  }
  return id;  // the mutex is released here
}

std::string randomDigits() {
  std::mt19937 generator(static_cast<std::uint32_t>(platform::unixSeconds()) ^
                         (platform::tickCount() << 8) ^ platform::currentProcessId());
  std::string digits;
  for (int i = 0; i < 32; ++i) digits += static_cast<char>('0' + generator() % 10);
  return digits;
}

}  // namespace

bool ConfigImp::isValidPCID(const std::string& id) {
  size_t count = 0;
  for (char c : id) count += c != ' ';
  return count >= kMinimumLength;
}

std::wstring ConfigImp::getPCIDNew() {
  if (!pcid.empty()) return pcid;

  std::string stored;
  {
    utility::RegKey key;
    if (key.RegRegOpen(HKEY_CURRENT_USER, contract::kIdentityKey, kIdentityAccess) !=
        ERROR_SUCCESS) {
      VLOG(L"read pcmac from  user reg error %d", static_cast<int>(platform::getLastError()));
    } else {
      key.RegRead(contract::kPcidexValue, stored);
    }
  }
  std::string id = stored.empty() ? std::string() : unprotect(stored);
  if (!id.empty()) {
    pcid = utility::ustring::ansiToWide(id);
    return pcid;
  }

  id = getPCIDOld();
  pcid = utility::ustring::ansiToWide(id);
  std::string value = protect(id);
  if (!value.empty()) {
    utility::RegKey key;
    if (key.RegCreate(HKEY_CURRENT_USER, contract::kIdentityKey) == ERROR_SUCCESS) {
      key.RegWrite(contract::kPcidexValue, value);
    }
  }
  return pcid;
}

std::string ConfigImp::getPCIDOld() {
  {
    utility::RegKey key;
    if (key.RegRegOpen(HKEY_CURRENT_USER, contract::kIdentityKey, kIdentityAccess) !=
        ERROR_SUCCESS) {
      VLOG(L"read rcmac from  user reg error %d", static_cast<int>(platform::getLastError()));
    } else {
      std::string id;
      key.RegRead(contract::kPcidValue, id);
      if (!id.empty() && isValidPCID(id)) return id;
    }
  }

  std::string id = readIdentityFile();
  if (!id.empty()) return id;

  id = getMacDigest();
  if (id.empty()) id = utility::ustring::wideToAnsi(utility::usystem::createGuidString());
  if (!isValidPCID(id)) id = randomDigits();
  return id;
}
