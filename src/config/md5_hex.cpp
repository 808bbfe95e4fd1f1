#include "config/md5_hex.h"

#include <openssl/evp.h>

#include <cstdio>

bool md5Hex(const unsigned char* data, std::ptrdiff_t length, std::string& out) {
  if (!data || length <= 0) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(data, static_cast<size_t>(length), digest, &digestLength, EVP_md5(), nullptr) !=
      1) {
    return false;
  }
  std::string text;
  char pair[3];
  for (unsigned int i = 0; i < digestLength; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  out = std::move(text);
  return true;
}
