#include "testing/TestCertificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

#include "testing/OpenSslHandles.h"

namespace velmora::testing {
namespace {

[[noreturn]] void fail(const std::string& what) {
  ERR_clear_error();
  throw std::runtime_error("TestCertificates: " + what);
}

using namespace velmora::testing::openssl;

Key makeKey() {
  Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) fail("key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) fail(std::string("extension ") + value);
}

// A certificate for `key` named `commonName`, signed by issuerKey under issuer's name (itself
// when issuer is null).
Cert makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, bool isCa,
                     const char* subjectAltName) {
  Cert cert(X509_new());
  if (!cert) fail("X509_new");
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) fail("RAND_bytes");
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(bn);
  if (!serialSet) fail("serial number");
  if (X509_set_version(cert.get(), X509_VERSION_3) != 1) fail("version");
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24L * 60 * 60)) {
    fail("validity");
  }
  X509_NAME* name = X509_get_subject_name(cert.get());
  if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1,
                                 -1, 0) != 1) {
    fail("subject name");
  }
  X509* signer = issuer ? issuer : cert.get();
  if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1) fail("issuer name");
  if (X509_set_pubkey(cert.get(), key) != 1) fail("public key");
  addExtension(cert.get(), signer, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
  if (isCa) addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (subjectAltName) addExtension(cert.get(), signer, NID_subject_alt_name, subjectAltName);
  if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0) fail("sign");
  return cert;
}

platform::Bytes der(X509* cert) {
  unsigned char* out = nullptr;
  const int length = i2d_X509(cert, &out);
  if (length <= 0 || !out) fail("DER encoding");
  platform::Bytes bytes(out, out + length);
  OPENSSL_free(out);
  return bytes;
}

std::string keyPem(EVP_PKEY* key) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) fail("key PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

TestCertificates TestCertificates::make() {
  TestCertificates c;
  Key caKey = makeKey();
  Cert ca = makeCertificate(caKey.get(), "Test CA", nullptr, nullptr, true, nullptr);
  c.ca = der(ca.get());

  Key leafKey = makeKey();
  Cert leaf = makeCertificate(leafKey.get(), "127.0.0.1", ca.get(), caKey.get(), false, "IP:127.0.0.1");
  c.leaf = der(leaf.get());
  c.leafKeyPem = keyPem(leafKey.get());

  Key wrongKey = makeKey();
  Cert wrong =
      makeCertificate(wrongKey.get(), "wrong-host.invalid", ca.get(), caKey.get(), false, "DNS:wrong-host.invalid");
  c.wrongHostLeaf = der(wrong.get());
  c.wrongHostLeafKeyPem = keyPem(wrongKey.get());

  Key selfKey = makeKey();
  Cert self = makeCertificate(selfKey.get(), "127.0.0.1", nullptr, nullptr, false, "IP:127.0.0.1");
  c.selfSigned = der(self.get());
  c.selfSignedKeyPem = keyPem(selfKey.get());

  Key otherCaKey = makeKey();
  Cert otherCa = makeCertificate(otherCaKey.get(), "Other Test CA", nullptr, nullptr, true, nullptr);
  c.otherCa = der(otherCa.get());
  Key otherLeafKey = makeKey();
  Cert otherLeaf =
      makeCertificate(otherLeafKey.get(), "127.0.0.1", otherCa.get(), otherCaKey.get(), false, "IP:127.0.0.1");
  c.otherCaLeaf = der(otherLeaf.get());
  c.otherCaLeafKeyPem = keyPem(otherLeafKey.get());
  return c;
}

std::string TestCertificates::toPem(const platform::Bytes& bytes) {
  const unsigned char* p = bytes.data();
  Cert cert(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
  if (!cert) fail("not a certificate");
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert.get()) != 1) fail("certificate PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace velmora::testing
