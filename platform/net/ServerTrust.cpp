#include "platform/net/ServerTrust.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <memory>

namespace velmora::platform::net {
namespace {

struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct StoreFree {
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
};
struct StoreCtxFree {
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
};
struct StackFree {
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};

using X509Ptr = std::unique_ptr<X509, X509Free>;

// The whole input must be one certificate: trailing bytes make it something else.
X509Ptr parse(const Bytes& der) {
  if (der.empty()) return nullptr;
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (cert && p != der.data() + der.size()) cert.reset();
  return cert;
}

bool isNumericAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

bool ServerTrust::isCertificate(const Bytes& certificate) { return parse(certificate) != nullptr; }

std::optional<Bytes> ServerTrust::publicKey(const Bytes& certificate) {
  auto cert = parse(certificate);
  if (!cert) return std::nullopt;
  X509_PUBKEY* key = X509_get_X509_PUBKEY(cert.get());
  if (!key) return std::nullopt;
  unsigned char* out = nullptr;
  const int length = i2d_X509_PUBKEY(key, &out);
  if (length <= 0 || !out) return std::nullopt;
  Bytes bytes(out, out + length);
  OPENSSL_free(out);
  return bytes;
}

TrustResult ServerTrust::evaluate() const {
  if (chain.empty()) return TrustResult::FatalTrustFailure;
  auto leaf = parse(chain.front());
  if (!leaf) return TrustResult::FatalTrustFailure;

  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  if (!store) return TrustResult::OtherError;
  if (!anchors.empty()) {
    bool any = false;
    for (const auto& der : anchors) {
      if (auto anchor = parse(der)) any = X509_STORE_add_cert(store.get(), anchor.get()) == 1 || any;
    }
    if (!any) return TrustResult::RecoverableTrustFailure;
  } else if (!caFile.empty() || !caPath.empty()) {
    if (!caFile.empty() && X509_STORE_load_file(store.get(), caFile.c_str()) != 1) {
      return TrustResult::RecoverableTrustFailure;
    }
    if (!caPath.empty() && X509_STORE_load_path(store.get(), caPath.c_str()) != 1) {
      return TrustResult::RecoverableTrustFailure;
    }
  } else if (X509_STORE_set_default_paths(store.get()) != 1) {
    return TrustResult::OtherError;
  }

  std::unique_ptr<STACK_OF(X509), StackFree> intermediates(sk_X509_new_null());
  if (!intermediates) return TrustResult::OtherError;
  for (std::size_t i = 1; i < chain.size(); ++i) {
    if (auto cert = parse(chain[i])) {
      if (sk_X509_push(intermediates.get(), cert.get()) > 0) cert.release();
    }
  }

  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), intermediates.get()) != 1) {
    return TrustResult::OtherError;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  // Anchors given by the caller are trusted as they are, also a leaf or an intermediate:
  // the chain need not go on to a self-signed root.
  if (!anchors.empty()) X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
  if (policyHost) {
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    const int set = isNumericAddress(*policyHost) ? X509_VERIFY_PARAM_set1_ip_asc(param, policyHost->c_str())
                                                  : X509_VERIFY_PARAM_set1_host(param, policyHost->c_str(),
                                                                                policyHost->size());
    if (set != 1) return TrustResult::RecoverableTrustFailure;
  }
  return X509_verify_cert(ctx.get()) == 1 ? TrustResult::Unspecified : TrustResult::RecoverableTrustFailure;
}

}  // namespace velmora::platform::net
