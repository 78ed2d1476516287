#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::platform::net {

// The outcome of evaluating a trust, with the platform's numbers.
enum class TrustResult : int {
  Invalid = 0,
  Proceed = 1,
  Deny = 3,
  Unspecified = 4,
  RecoverableTrustFailure = 5,
  FatalTrustFailure = 6,
  OtherError = 7,
};

// What a TLS server presented, with the rules to judge it by: its certificate chain as it
// was sent, the policy (a server's host name to match, or plain X.509 path checks) and the
// anchors the chain must lead to. The URL session fills one in from its verify callback;
// a trust policy replaces the policy or the anchors and evaluates it again. Evaluation is
// pure: it reads only the certificates given and the anchor store.
struct ServerTrust {
  // DER certificates, the leaf first.
  std::vector<Bytes> chain;
  // Set: the leaf must be valid for this host name or numeric address. Unset: basic X.509.
  std::optional<std::string> policyHost;
  // When not empty, the only anchors (each trusted as it is, a leaf too); otherwise the system's (or caFile's) trusted roots.
  std::vector<Bytes> anchors;
  // PEM bundle of roots used instead of the system's store when set and anchors is empty.
  std::string caFile;
  // A directory of hashed roots, used with (or instead of) caFile.
  std::string caPath;

  // Unspecified when the chain leads to an anchor under the policy; RecoverableTrustFailure
  // when it does not (untrusted, expired, wrong host); FatalTrustFailure when there is no
  // leaf that parses.
  TrustResult evaluate() const;

  // The DER SubjectPublicKeyInfo of one certificate; nullopt when the data is not a
  // certificate or has no readable key.
  static std::optional<Bytes> publicKey(const Bytes& certificate);
  // Whether the data parse as one DER certificate.
  static bool isCertificate(const Bytes& certificate);
};

}  // namespace velmora::platform::net
