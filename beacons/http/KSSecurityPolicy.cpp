#include "beacons/http/KSSecurityPolicy.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "platform/core/Log.h"

namespace velmora::kestrine {

namespace net = platform::net;

namespace {

constexpr std::string_view kLogCategory = "http";

bool isValid(net::TrustResult result) {
  return result == net::TrustResult::Unspecified || result == net::TrustResult::Proceed;
}

std::optional<KSSecurityPolicy::CertificateSet> publicKeysOf(
    const std::optional<KSSecurityPolicy::CertificateSet>& certificates) {
  if (!certificates) return std::nullopt;
  KSSecurityPolicy::CertificateSet keys;
  for (const auto& certificate : *certificates) {
    if (auto key = net::ServerTrust::publicKey(certificate)) keys.insert(std::move(*key));
  }
  return keys;
}

}  // namespace

KSSecurityPolicy::KSSecurityPolicy() = default;

KSSecurityPolicy::KSSecurityPolicy(const KSSecurityPolicy& other) {
  std::lock_guard lock(other.mutex_);
  mode_ = other.mode_;
  allowInvalidCertificates_ = other.allowInvalidCertificates_;
  validatesDomainName_ = other.validatesDomainName_;
  pinnedCertificates_ = other.pinnedCertificates_;
  pinnedPublicKeys_ = other.pinnedPublicKeys_;
}

KSSecurityPolicy::CertificateSet KSSecurityPolicy::certificatesInBundle(const std::filesystem::path& directory) {
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

KSSecurityPolicy::CertificateSet KSSecurityPolicy::defaultPinnedCertificates() {
  static const CertificateSet& certificates = *new CertificateSet([] {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? CertificateSet{} : certificatesInBundle(program.parent_path());
  }());
  return certificates;
}

std::shared_ptr<KSSecurityPolicy> KSSecurityPolicy::defaultPolicy() {
  return std::make_shared<KSSecurityPolicy>();
}

std::shared_ptr<KSSecurityPolicy> KSSecurityPolicy::policyWithPinningMode(unsigned mode) {
  return policyWithPinningMode(mode, defaultPinnedCertificates());
}

std::shared_ptr<KSSecurityPolicy> KSSecurityPolicy::policyWithPinningMode(unsigned mode,
                                                                              CertificateSet pinnedCertificates) {
  auto policy = std::make_shared<KSSecurityPolicy>();
  policy->setSSLPinningMode(mode);
  policy->setPinnedCertificates(std::move(pinnedCertificates));
  return policy;
}

unsigned KSSecurityPolicy::SSLPinningMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}
void KSSecurityPolicy::setSSLPinningMode(unsigned mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
}
bool KSSecurityPolicy::allowInvalidCertificates() const {
  std::lock_guard lock(mutex_);
  return allowInvalidCertificates_;
}
void KSSecurityPolicy::setAllowInvalidCertificates(bool allow) {
  std::lock_guard lock(mutex_);
  allowInvalidCertificates_ = allow;
}
bool KSSecurityPolicy::validatesDomainName() const {
  std::lock_guard lock(mutex_);
  return validatesDomainName_;
}
void KSSecurityPolicy::setValidatesDomainName(bool validates) {
  std::lock_guard lock(mutex_);
  validatesDomainName_ = validates;
}
std::optional<KSSecurityPolicy::CertificateSet> KSSecurityPolicy::pinnedCertificates() const {
  std::lock_guard lock(mutex_);
  return pinnedCertificates_;
}
void KSSecurityPolicy::setPinnedCertificates(std::optional<CertificateSet> certificates) {
  auto keys = publicKeysOf(certificates);
  std::lock_guard lock(mutex_);
  pinnedCertificates_ = std::move(certificates);
  pinnedPublicKeys_ = std::move(keys);
}
std::optional<KSSecurityPolicy::CertificateSet> KSSecurityPolicy::pinnedPublicKeys() const {
  std::lock_guard lock(mutex_);
  return pinnedPublicKeys_;
}

bool KSSecurityPolicy::evaluateServerTrust(net::ServerTrust serverTrust,
                                             const std::optional<std::string>& domain) const {
  const KSSecurityPolicy settings(*this);  // one consistent view of the settings
  const bool hasPins = settings.pinnedCertificates_ && !settings.pinnedCertificates_->empty();

  if (domain && settings.allowInvalidCertificates_ && settings.validatesDomainName_ &&
      (settings.mode_ == KSSSLPinningModeNone || !hasPins)) {
    platform::Log::error(kLogCategory, "{}", KSSecurityPolicySelfSignedNeedsPinningMessage);
    return false;
  }

  // Without a domain there is no host to match: the chain is judged by X.509 rules alone.
  serverTrust.policyHost = settings.validatesDomainName_ ? domain : std::nullopt;

  if (settings.mode_ == KSSSLPinningModeNone) {
    return settings.allowInvalidCertificates_ || isValid(serverTrust.evaluate());
  }
  // Pins are looked for in the chain that stands behind the server, never in what it merely
  // sent: anyone can append a copy of a pinned certificate to their own chain.
  std::vector<platform::Bytes> verified;
  const bool valid = isValid(serverTrust.evaluate(&verified));
  if (!valid && !settings.allowInvalidCertificates_) return false;

  switch (settings.mode_) {
    case KSSSLPinningModeCertificate: {
      if (!hasPins) return false;
      serverTrust.anchors.assign(settings.pinnedCertificates_->begin(), settings.pinnedCertificates_->end());
      if (!isValid(serverTrust.evaluate(&verified))) return false;
      // The chain that validated with the pins as the only anchors ends at one of them; the
      // root end is compared first.
      for (auto it = verified.rbegin(); it != verified.rend(); ++it) {
        if (settings.pinnedCertificates_->count(*it) != 0) return true;
      }
      return false;
    }
    case KSSSLPinningModePublicKey: {
      if (!settings.pinnedPublicKeys_) return false;
      const auto& pins = *settings.pinnedPublicKeys_;
      // A valid server is judged on its verified chain, up to the trusted root it leads to
      // (sent or not). When nothing validated (invalid certificates allowed), the chain is
      // what signatures prove: the leaf and the sent certificates that signed it in turn.
      // A pinned key counts there, or as the key that signed the last of them: the pinned
      // issuer need not be sent. Either way the pinned key's holder vouched for the leaf.
      const std::vector<platform::Bytes> judged = valid ? verified : serverTrust.signedChain();
      std::size_t matches = 0;
      for (const auto& certificate : judged) {
        auto key = net::ServerTrust::publicKey(certificate);
        if (key && pins.count(*key) != 0) ++matches;
      }
      if (matches == 0 && !valid && !judged.empty()) {
        for (const auto& pin : pins) {
          if (net::ServerTrust::isSignedBy(judged.back(), pin)) ++matches;
        }
      }
      return matches > 0;
    }
    default:
      return false;
  }
}

platform::Value KSSecurityPolicy::encodeWithCoder() const {
  const KSSecurityPolicy settings(*this);
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

std::shared_ptr<KSSecurityPolicy> KSSecurityPolicy::initWithCoder(const platform::Value& coded) {
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

std::shared_ptr<KSSecurityPolicy> KSSecurityPolicy::copy() const {
  return std::make_shared<KSSecurityPolicy>(*this);
}

}  // namespace velmora::kestrine
