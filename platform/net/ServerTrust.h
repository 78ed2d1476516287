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

// What a TLS server presented, with the rules to judge it by: its certificates as it sent
// them, the policy (a server's host name to match, or plain X.509 path checks) and the
// anchors the chain must lead to. The URL session fills one in from its verify callback;
// a trust policy replaces the policy or the anchors and evaluates it again. Evaluation is
// pure: it reads only the certificates given and the anchor store.
//
// What the server sent is only material for building a chain: a server may send
// certificates that have nothing to do with its leaf (a pinned certificate copied from
// elsewhere, say), and it usually leaves out the root. A decision about which certificates
// or keys stand behind the server is taken on the chain that evaluation built (or, where
// nothing validated, on signedChain()), never on `chain` itself.
struct ServerTrust {
  // DER certificates as the server sent them, the leaf first.
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
  // leaf that parses. When the chain leads to an anchor and `verifiedChain` is given, it
  // receives the chain that validated: DER, the leaf first, each certificate issued by the
  // next, ending at the anchor (which the server need not have sent); otherwise it is
  // cleared.
  TrustResult evaluate(std::vector<Bytes>* verifiedChain = nullptr) const;

  // The leaf, then each sent certificate that issued the one before it (its subject is the
  // issuer's name and its key verifies the signature), up to a self-signed certificate or
  // one whose issuer was not sent. Nothing else is checked (dates, constraints, host): this
  // is the chain of signatures behind the leaf when nothing validated. Empty when the leaf
  // does not parse.
  std::vector<Bytes> signedChain() const;

  // Whether `certificate`'s signature verifies with `publicKey` (DER SubjectPublicKeyInfo).
  static bool isSignedBy(const Bytes& certificate, const Bytes& publicKey);
  // The DER SubjectPublicKeyInfo of one certificate; nullopt when the data is not a
  // certificate or has no readable key.
  static std::optional<Bytes> publicKey(const Bytes& certificate);
  // Whether the data parse as one DER certificate.
  static bool isCertificate(const Bytes& certificate);
};

}  // namespace velmora::platform::net
