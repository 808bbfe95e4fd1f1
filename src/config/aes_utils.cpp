#include "config/aes_utils.h"

#include <openssl/evp.h>

#include <array>
#include <climits>
#include <cstring>
#include <memory>

#include "utility/log.h"

namespace {

using Block = std::array<unsigned char, AESUtils::kBlockSize>;

// The 15 characters of the key text and a zero byte.
const Block& cipherKey() {
  static const Block key = {'x', 'g', 'h', 'z', 'f', 'l', 'p', '5',
                            '2', '3', '0', '9', '1', '9', '3', '\0'};
  return key;
}

// The initialisation vector: sixteen decimal digits, assembled from four
// pieces so that the whole text never stands in the binary.
constexpr char kIvPart1[4] = {'7', '3', '0', '4'};
constexpr char kIvPart2[4] = {'1', '8', '6', '2'};
constexpr char kIvPart3[4] = {'5', '9', '0', '7'};
constexpr char kIvPart4[4] = {'2', '4', '3', '8'};

// A fresh copy for every operation: the CBC chain must start from the same
// vector each time.
Block freshIv() {
  Block iv;
  std::memcpy(iv.data(), kIvPart1, 4);
  std::memcpy(iv.data() + 4, kIvPart2, 4);
  std::memcpy(iv.data() + 8, kIvPart3, 4);
  std::memcpy(iv.data() + 12, kIvPart4, 4);
  return iv;
}

struct ContextDeleter {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter>;

// A CBC context without OpenSSL's own padding (the padding is ours).
Context startCipher(bool encrypt) {
  Context context(EVP_CIPHER_CTX_new());
  if (!context) return nullptr;
  Block iv = freshIv();
  if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, cipherKey().data(),
                        iv.data(), encrypt ? 1 : 0) != 1) {
    return nullptr;
  }
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  return context;
}

// Runs whole blocks through the context; the length is a multiple of 16.
bool runBlocks(EVP_CIPHER_CTX* context, const unsigned char* in, size_t length,
               unsigned char* out) {
  int written = 0;
  if (EVP_CipherUpdate(context, out, &written, in, static_cast<int>(length)) != 1) return false;
  int tail = 0;
  if (EVP_CipherFinal_ex(context, out + written, &tail) != 1) return false;
  return static_cast<size_t>(written + tail) == length;
}

}  // namespace

bool AESUtils::aes_encrypt(const unsigned char* input, size_t n, std::string& output) {
  if (!input || n > INT_MAX - 2 * kBlockSize) return false;
  Context context = startCipher(true);
  if (!context) return false;

  size_t length = (n / kBlockSize + 1) * kBlockSize;
  const auto padding = static_cast<unsigned char>(length - n);
  std::string buffer(length, static_cast<char>(padding));
  std::memcpy(buffer.data(), input, n);

  std::string cipher(length, '\0');
  if (!runBlocks(context.get(), reinterpret_cast<const unsigned char*>(buffer.data()), length,
                 reinterpret_cast<unsigned char*>(cipher.data()))) {
    return false;
  }
  output = std::move(cipher);
  return true;
}

int AESUtils::aes_decrypt(const unsigned char* input, size_t n, std::string& output) {
  // A registry value can hold anything; only whole blocks are deciphered.
  if (!input || n == 0 || n % kBlockSize != 0 || n > INT_MAX - kBlockSize) {
    VLOG(L"bad input length %d", static_cast<int>(n));
    output.clear();
    return -1;
  }
  Context context = startCipher(false);
  if (!context) {
    VLOG(L"set key error");
    return -1;
  }
  output.assign(n, '\0');
  auto* plain = reinterpret_cast<unsigned char*>(output.data());
  if (!runBlocks(context.get(), input, n, plain)) {
    VLOG(L"decrypt error");
    return -1;
  }

  unsigned char padding = plain[n - 1];
  if (padding == 0 || padding > kBlockSize) {
    VLOG(L"bad padding byte");
    return -1;
  }
  for (size_t i = n - padding; i < n; ++i) {
    if (plain[i] != padding) {
      VLOG(L"bad padding");
      return -1;
    }
  }
  output.resize(n - padding);
  return 0;
}
