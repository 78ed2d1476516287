#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

// Owning handles for the OpenSSL objects the test servers and test certificates make.
namespace velmora::testing::openssl {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct SslCtxFree {
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslFree {
  void operator()(SSL* p) const { SSL_free(p); }
};

using Key = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

}  // namespace velmora::testing::openssl
