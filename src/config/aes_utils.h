// The payload cipher: AES-128 in CBC mode with a fixed key and initialisation
// vector and PKCS#7 padding. It protects the machine identifier stored in the
// registry, which other programs of the product family read with the same
// key and vector.
#pragma once

#include <cstddef>
#include <string>

class AESUtils {
 public:
  // Encrypts n bytes. The ciphertext is n rounded up to a multiple of 16, or
  // n + 16 when n already is one (16 for n = 0). False, with the output
  // untouched, when the input is missing or the key cannot be set up.
  static bool aes_encrypt(const unsigned char* input, size_t n, std::string& output);

  // Decrypts n bytes: 0 with the plaintext without its padding, or -1. With a
  // bad padding the output keeps all n decrypted bytes; an input that is
  // missing, empty or not a whole number of blocks is refused with the output
  // emptied.
  static int aes_decrypt(const unsigned char* input, size_t n, std::string& output);

  static constexpr size_t kBlockSize = 16;
};
