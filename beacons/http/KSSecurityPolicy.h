#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/core/Value.h"
#include "platform/net/ServerTrust.h"

namespace velmora::kestrine {

enum KSSSLPinningMode : unsigned {
  KSSSLPinningModeNone = 0,
  KSSSLPinningModePublicKey = 1,
  KSSSLPinningModeCertificate = 2,
};

inline constexpr std::string_view KSSecurityPolicySelfSignedNeedsPinningMessage =
    "In order to validate a domain name for self signed certificates, you MUST use pinning.";

// Decides whether a server's TLS trust is accepted for a host. The default policy pins
// nothing, refuses invalid certificates and checks the host name; the pinning modes accept
// a server only when the chain behind it holds a pinned certificate (certificate mode, the
// chain built with the pinned certificates as the only anchors) or a pinned public key (the
// verified chain up to its trusted root, whether the server sent that root or not). What the
// server sent beyond its leaf is only material for building the chain, never itself a match.
// With invalid certificates allowed and nothing validating, public-key mode judges the chain
// of signatures from the leaf (see ServerTrust::signedChain), which a pinned key must be in
// or have signed. Evaluation never throws: every failure is a refusal. Thread-safe.
class KSSecurityPolicy {
 public:
  using CertificateSet = std::set<platform::Bytes>;

  KSSecurityPolicy();
  KSSecurityPolicy(const KSSecurityPolicy& other);
  KSSecurityPolicy& operator=(const KSSecurityPolicy&) = delete;

  // Every file with the extension "cer" directly in `directory`; unreadable files are skipped.
  static CertificateSet certificatesInBundle(const std::filesystem::path& directory);
  // certificatesInBundle of the directory holding the running program, read once.
  static CertificateSet defaultPinnedCertificates();

  static std::shared_ptr<KSSecurityPolicy> defaultPolicy();
  static std::shared_ptr<KSSecurityPolicy> policyWithPinningMode(unsigned mode);
  static std::shared_ptr<KSSecurityPolicy> policyWithPinningMode(unsigned mode, CertificateSet pinnedCertificates);

  unsigned SSLPinningMode() const;
  void setSSLPinningMode(unsigned mode);
  bool allowInvalidCertificates() const;
  void setAllowInvalidCertificates(bool allow);
  bool validatesDomainName() const;
  void setValidatesDomainName(bool validates);
  std::optional<CertificateSet> pinnedCertificates() const;
  // Stores the set and recomputes the pinned public keys (none for nullopt).
  void setPinnedCertificates(std::optional<CertificateSet> certificates);
  // DER SubjectPublicKeyInfo of each pinned certificate that yields one.
  std::optional<CertificateSet> pinnedPublicKeys() const;

  // Whether to accept `serverTrust` for `domain` (nullopt: no host is known).
  bool evaluateServerTrust(platform::net::ServerTrust serverTrust, const std::optional<std::string>& domain) const;

  // The four settings under their property names, and back.
  platform::Value encodeWithCoder() const;
  static std::shared_ptr<KSSecurityPolicy> initWithCoder(const platform::Value& coded);
  std::shared_ptr<KSSecurityPolicy> copy() const;

 private:
  mutable std::mutex mutex_;
  unsigned mode_ = KSSSLPinningModeNone;
  bool allowInvalidCertificates_ = false;
  bool validatesDomainName_ = true;
  std::optional<CertificateSet> pinnedCertificates_;
  std::optional<CertificateSet> pinnedPublicKeys_;
};

}  // namespace velmora::kestrine
