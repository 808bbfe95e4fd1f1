#include "test_pki.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

#include "platform/openssl_handles.h"

namespace vireo::testing {
namespace {

using platform::openssl::BioPtr;
using platform::openssl::KeyPtr;
using CertPtr = platform::openssl::CertificatePtr;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

KeyPtr newKey(KeyKind kind) {
  KeyPtr key(kind == KeyKind::Ec ? EVP_EC_gen("P-256") : EVP_RSA_gen(2048));
  check(key != nullptr, "key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  check(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

CertPtr newCertificate(EVP_PKEY* key, const std::string& commonName, Validity validity) {
  CertPtr cert(X509_new());
  check(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), validity.fromDays * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), validity.toDays * 86400L);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_pubkey(cert.get(), key);
  return cert;
}

Credentials writeOut(const std::string& folder, const std::string& name, X509* cert, EVP_PKEY* key) {
  Credentials out{folder + "/" + name + ".crt", folder + "/" + name + ".key", {}};
  BioPtr certFile(BIO_new_file(out.certFile.c_str(), "wb"));
  check(certFile && PEM_write_bio_X509(certFile.get(), cert), "writing the certificate");
  BioPtr keyFile(BIO_new_file(out.keyFile.c_str(), "wb"));
  check(keyFile && PEM_write_bio_PrivateKey(keyFile.get(), key, nullptr, nullptr, 0, nullptr, nullptr),
        "writing the key");
  char subject[256];
  X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
  out.subject = subject;
  return out;
}

CertPtr readCertificate(const std::string& file) {
  BioPtr in(BIO_new_file(file.c_str(), "rb"));
  CertPtr cert(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
  check(cert != nullptr, "reading the issuer certificate");
  return cert;
}

KeyPtr readKey(const std::string& file) {
  BioPtr in(BIO_new_file(file.c_str(), "rb"));
  KeyPtr key(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
  check(key != nullptr, "reading the issuer key");
  return key;
}

}  // namespace

Credentials makeCa(const std::string& folder, const std::string& name, Validity validity) {
  KeyPtr key = newKey(KeyKind::Ec);
  CertPtr cert = newCertificate(key.get(), name, validity);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
  addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signing the CA");
  return writeOut(folder, name, cert.get(), key.get());
}

Credentials makeSigner(const std::string& folder, const std::string& name, const Credentials& issuer,
                       Validity validity, KeyKind kind) {
  CertPtr issuerCert = readCertificate(issuer.certFile);
  KeyPtr issuerKey = readKey(issuer.keyFile);
  KeyPtr key = newKey(kind);
  CertPtr cert = newCertificate(key.get(), name, validity);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert.get()));
  addExtension(cert.get(), issuerCert.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(cert.get(), issuerCert.get(), NID_key_usage, "critical,digitalSignature");
  addExtension(cert.get(), issuerCert.get(), NID_ext_key_usage, "codeSigning");
  check(X509_sign(cert.get(), issuerKey.get(), EVP_sha256()) > 0, "signing the certificate");
  return writeOut(folder, name, cert.get(), key.get());
}

}  // namespace vireo::testing
