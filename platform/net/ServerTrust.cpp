#include "platform/net/ServerTrust.h"

#include <openssl/err.h>
#include <openssl/evp.h>
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

struct KeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
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

std::optional<Bytes> derOf(X509* cert) {
  unsigned char* out = nullptr;
  const int length = i2d_X509(cert, &out);
  if (length <= 0 || !out) {
    OPENSSL_free(out);
    return std::nullopt;
  }
  Bytes bytes(out, out + length);
  OPENSSL_free(out);
  return bytes;
}

// Whether `issuer` issued `subject`: its subject is the subject's issuer name and its key
// verifies the subject's signature. A failed check leaves nothing on the thread's error queue
// (it may be the TLS handshake's thread).
bool issued(X509* issuer, X509* subject) {
  if (X509_NAME_cmp(X509_get_subject_name(issuer), X509_get_issuer_name(subject)) != 0) return false;
  EVP_PKEY* key = X509_get0_pubkey(issuer);
  const bool verified = key && X509_verify(subject, key) == 1;
  if (!verified) ERR_clear_error();
  return verified;
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

bool ServerTrust::isSignedBy(const Bytes& certificate, const Bytes& publicKey) {
  auto cert = parse(certificate);
  if (!cert || publicKey.empty()) return false;
  const unsigned char* p = publicKey.data();
  std::unique_ptr<EVP_PKEY, KeyFree> key(d2i_PUBKEY(nullptr, &p, static_cast<long>(publicKey.size())));
  const bool verified = key && p == publicKey.data() + publicKey.size() && X509_verify(cert.get(), key.get()) == 1;
  if (!verified) ERR_clear_error();
  return verified;
}

std::vector<Bytes> ServerTrust::signedChain() const {
  std::vector<Bytes> out;
  if (chain.empty()) return out;
  X509Ptr current = parse(chain.front());
  if (!current) return out;
  out.push_back(chain.front());
  // Each sent certificate is used once, so a loop of certificates that sign each other ends.
  std::vector<std::size_t> unused;
  for (std::size_t i = 1; i < chain.size(); ++i) unused.push_back(i);
  while (!issued(current.get(), current.get())) {
    X509Ptr next;
    auto it = unused.begin();
    for (; it != unused.end(); ++it) {
      next = parse(chain[*it]);
      if (next && issued(next.get(), current.get())) break;
      next.reset();
    }
    if (!next) break;
    out.push_back(chain[*it]);
    unused.erase(it);
    current = std::move(next);
  }
  return out;
}

TrustResult ServerTrust::evaluate(std::vector<Bytes>* verifiedChain) const {
  if (verifiedChain) verifiedChain->clear();
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
  if (X509_verify_cert(ctx.get()) != 1) return TrustResult::RecoverableTrustFailure;
  if (verifiedChain) {
    STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx.get());
    // Past the first anchor the chain holds only anchors, except where the leaf itself was
    // found among them (no untrusted certificate then): the sent certificates built above it
    // are still in the chain, though nothing they say was relied on. They are left out.
    const int length = X509_STORE_CTX_get_num_untrusted(ctx.get()) == 0 ? 1 : (built ? sk_X509_num(built) : 0);
    for (int i = 0; built && i < length; ++i) {
      auto der = derOf(sk_X509_value(built, i));
      if (!der) {
        verifiedChain->clear();
        return TrustResult::OtherError;
      }
      verifiedChain->push_back(std::move(*der));
    }
  }
  return TrustResult::Unspecified;
}

}  // namespace velmora::platform::net
