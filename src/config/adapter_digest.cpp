#include "config/adapter_digest.h"

#include <algorithm>
#include <cstdio>

#include "config/md5_hex.h"
#include "platform/os_facts.h"
#include "utility/ustring.h"

std::vector<std::wstring> getMacAddressList() {
  std::vector<std::wstring> list;
  for (const auto& address : platform::adapterAddresses()) {
    bool allZero = std::all_of(address.begin(), address.end(), [](auto b) { return b == 0; });
    if (allZero) continue;
    wchar_t text[13];
    std::swprintf(text, 13, L"%02X%02X%02X%02X%02X%02X", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    list.push_back(text);
  }
  return list;
}

std::string getMacDigest() {
  std::string digest;
  std::vector<std::wstring> list = getMacAddressList();
  if (list.empty()) return digest;

  std::sort(list.begin(), list.end());
  std::wstring joined;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) joined += L"|";
    joined += list[i];
  }
  std::string bytes = utility::ustring::wideToAnsi(joined);
  md5Hex(reinterpret_cast<const unsigned char*>(bytes.data()),
         static_cast<std::ptrdiff_t>(bytes.size()), digest);

  if (list.size() > 1) {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "%zx-", list.size());
    digest.insert(0, prefix);
  }
  return digest;
}
