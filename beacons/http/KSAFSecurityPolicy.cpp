#include "beacons/http/KSAFSecurityPolicy.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/core/Log.h"

namespace kestrine {

namespace net = platform::net;

namespace {

constexpr std::string_view kLogCategory = "http";

bool isValid(net::TrustResult result) {
  return result == net::TrustResult::Unspecified || result == net::TrustResult::Proceed;
}

std::optional<KSAFSecurityPolicy::CertificateSet> publicKeysOf(
    const std::optional<KSAFSecurityPolicy::CertificateSet>& certificates) {
  if (!certificates) return std::nullopt;
  KSAFSecurityPolicy::CertificateSet keys;
  for (const auto& certificate : *certificates) {
    if (auto key = net::ServerTrust::publicKey(certificate)) keys.insert(std::move(*key));
  }
  return keys;
}

}  // namespace

KSAFSecurityPolicy::KSAFSecurityPolicy() = default;

KSAFSecurityPolicy::KSAFSecurityPolicy(const KSAFSecurityPolicy& other) {
  std::lock_guard lock(other.mutex_);
  mode_ = other.mode_;
  allowInvalidCertificates_ = other.allowInvalidCertificates_;
  validatesDomainName_ = other.validatesDomainName_;
  pinnedCertificates_ = other.pinnedCertificates_;
  pinnedPublicKeys_ = other.pinnedPublicKeys_;
}

KSAFSecurityPolicy::CertificateSet KSAFSecurityPolicy::certificatesInBundle(const std::filesystem::path& directory) {
  CertificateSet certificates;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".cer") continue;
    std::ifstream in(it->path(), std::ios::binary);
    if (!in) continue;
    platform::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) continue;
    certificates.insert(std::move(bytes));
  }
  return certificates;
}

KSAFSecurityPolicy::CertificateSet KSAFSecurityPolicy::defaultPinnedCertificates() {
  static const CertificateSet certificates = [] {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? CertificateSet{} : certificatesInBundle(program.parent_path());
  }();
  return certificates;
}

std::shared_ptr<KSAFSecurityPolicy> KSAFSecurityPolicy::defaultPolicy() {
  return std::make_shared<KSAFSecurityPolicy>();
}

std::shared_ptr<KSAFSecurityPolicy> KSAFSecurityPolicy::policyWithPinningMode(unsigned mode) {
  return policyWithPinningMode(mode, defaultPinnedCertificates());
}

std::shared_ptr<KSAFSecurityPolicy> KSAFSecurityPolicy::policyWithPinningMode(unsigned mode,
                                                                              CertificateSet pinnedCertificates) {
  auto policy = std::make_shared<KSAFSecurityPolicy>();
  policy->setSSLPinningMode(mode);
  policy->setPinnedCertificates(std::move(pinnedCertificates));
  return policy;
}

unsigned KSAFSecurityPolicy::SSLPinningMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}
void KSAFSecurityPolicy::setSSLPinningMode(unsigned mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
}
bool KSAFSecurityPolicy::allowInvalidCertificates() const {
  std::lock_guard lock(mutex_);
  return allowInvalidCertificates_;
}
void KSAFSecurityPolicy::setAllowInvalidCertificates(bool allow) {
  std::lock_guard lock(mutex_);
  allowInvalidCertificates_ = allow;
}
bool KSAFSecurityPolicy::validatesDomainName() const {
  std::lock_guard lock(mutex_);
  return validatesDomainName_;
}
void KSAFSecurityPolicy::setValidatesDomainName(bool validates) {
  std::lock_guard lock(mutex_);
  validatesDomainName_ = validates;
}
std::optional<KSAFSecurityPolicy::CertificateSet> KSAFSecurityPolicy::pinnedCertificates() const {
  std::lock_guard lock(mutex_);
  return pinnedCertificates_;
}
void KSAFSecurityPolicy::setPinnedCertificates(std::optional<CertificateSet> certificates) {
  auto keys = publicKeysOf(certificates);
  std::lock_guard lock(mutex_);
  pinnedCertificates_ = std::move(certificates);
  pinnedPublicKeys_ = std::move(keys);
}
std::optional<KSAFSecurityPolicy::CertificateSet> KSAFSecurityPolicy::pinnedPublicKeys() const {
  std::lock_guard lock(mutex_);
  return pinnedPublicKeys_;
}

bool KSAFSecurityPolicy::evaluateServerTrust(net::ServerTrust serverTrust,
                                             const std::optional<std::string>& domain) const {
  const KSAFSecurityPolicy settings(*this);  // one consistent view of the settings
  const bool hasPins = settings.pinnedCertificates_ && !settings.pinnedCertificates_->empty();

  if (domain && settings.allowInvalidCertificates_ && settings.validatesDomainName_ &&
      (settings.mode_ == KSAFSSLPinningModeNone || !hasPins)) {
    platform::Log::error(kLogCategory, "{}", KSAFSecurityPolicySelfSignedNeedsPinningMessage);
    return false;
  }

  // Without a domain there is no host to match: the chain is judged by X.509 rules alone.
  serverTrust.policyHost = settings.validatesDomainName_ ? domain : std::nullopt;

  if (settings.mode_ == KSAFSSLPinningModeNone) {
    return settings.allowInvalidCertificates_ || isValid(serverTrust.evaluate());
  }
  if (!isValid(serverTrust.evaluate()) && !settings.allowInvalidCertificates_) return false;

  switch (settings.mode_) {
    case KSAFSSLPinningModeCertificate: {
      if (!hasPins) return false;
      serverTrust.anchors.assign(settings.pinnedCertificates_->begin(), settings.pinnedCertificates_->end());
      if (!isValid(serverTrust.evaluate())) return false;
      // The root end is compared first.
      for (auto it = serverTrust.chain.rbegin(); it != serverTrust.chain.rend(); ++it) {
        if (settings.pinnedCertificates_->count(*it) != 0) return true;
      }
      return false;
    }
    case KSAFSSLPinningModePublicKey: {
      if (!settings.pinnedPublicKeys_) return false;
      std::size_t matches = 0;
      for (const auto& certificate : serverTrust.chain) {
        auto key = net::ServerTrust::publicKey(certificate);
        if (key && settings.pinnedPublicKeys_->count(*key) != 0) ++matches;
      }
      return matches > 0;
    }
    default:
      return false;
  }
}

platform::Value KSAFSecurityPolicy::encodeWithCoder() const {
  const KSAFSecurityPolicy settings(*this);
  platform::Value coded = platform::Value::makeDict();
  coded.set("SSLPinningMode", settings.mode_);
  coded.set("allowInvalidCertificates", settings.allowInvalidCertificates_);
  coded.set("validatesDomainName", settings.validatesDomainName_);
  if (settings.pinnedCertificates_) {
    platform::Array certificates;
    for (const auto& c : *settings.pinnedCertificates_) certificates.emplace_back(c);
    coded.set("pinnedCertificates", std::move(certificates));
  }
  return coded;
}

std::shared_ptr<KSAFSecurityPolicy> KSAFSecurityPolicy::initWithCoder(const platform::Value& coded) {
  if (!coded.dict()) return nullptr;
  auto policy = defaultPolicy();
  const auto mode = coded["SSLPinningMode"].toUInt64();
  if (mode && *mode <= 0xffffffffu) policy->mode_ = static_cast<unsigned>(*mode);
  if (auto b = coded["allowInvalidCertificates"].toBool()) policy->allowInvalidCertificates_ = *b;
  if (auto b = coded["validatesDomainName"].toBool()) policy->validatesDomainName_ = *b;
  if (const auto* list = coded["pinnedCertificates"].array()) {
    CertificateSet certificates;
    for (const auto& item : *list) {
      if (const auto* bytes = item.bytes()) certificates.insert(*bytes);
    }
    policy->setPinnedCertificates(std::move(certificates));
  }
  return policy;
}

std::shared_ptr<KSAFSecurityPolicy> KSAFSecurityPolicy::copy() const {
  return std::make_shared<KSAFSecurityPolicy>(*this);
}

}  // namespace kestrine
