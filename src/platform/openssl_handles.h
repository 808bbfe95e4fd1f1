// OpenSSL objects owned by std::unique_ptr, each freed with its own function.
#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace platform::openssl {

template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};

using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, FreeWith<CMS_ContentInfo_free>>;
using CertificatePtr = std::unique_ptr<X509, FreeWith<X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using StorePtr = std::unique_ptr<X509_STORE, FreeWith<X509_STORE_free>>;
using StoreContextPtr = std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX_free>>;

}  // namespace platform::openssl
