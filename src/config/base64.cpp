#include "config/base64.h"

#include <openssl/evp.h>

namespace {

// ASCII only, whatever the C locale says about other bytes.
bool isAlphabet(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

}  // namespace

std::string base64Encode(const unsigned char* data, size_t length) {
  if (!data || length == 0) return {};
  std::string text(4 * ((length + 2) / 3) + 1, '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data,
                                static_cast<int>(length));
  text.resize(written < 0 ? 0 : static_cast<size_t>(written));
  return text;
}

std::string base64Decode(const std::string& text) {
  size_t run = 0;
  while (run < text.size() && isAlphabet(static_cast<unsigned char>(text[run]))) ++run;

  const size_t groups = run / 4;
  const size_t rest = run % 4;  // 1 leftover character carries no whole byte
  const size_t bytes = groups * 3 + (rest >= 2 ? rest - 1 : 0);
  if (bytes == 0) return {};

  // OpenSSL decodes whole groups: pad a partial one the standard way.
  std::string groupsText = text.substr(0, groups * 4 + (rest >= 2 ? rest : 0));
  groupsText.append((4 - groupsText.size() % 4) % 4, '=');
  std::string out(groupsText.size() / 4 * 3, '\0');
  int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(groupsText.data()),
                                static_cast<int>(groupsText.size()));
  if (decoded < 0) return {};
  out.resize(bytes);
  return out;
}
