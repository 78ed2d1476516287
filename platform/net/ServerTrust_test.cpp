#include "platform/net/ServerTrust.h"

#include <gtest/gtest.h>

#include "testing/TestCertificates.h"

namespace velmora::platform::net {
namespace {

using velmora::testing::TestCertificates;

TEST(ServerTrustTest, EvaluatesChainAgainstAnchorsAndHost) {
  static const TestCertificates c = TestCertificates::make();
  const struct {
    const char* name;
    std::vector<Bytes> chain;
    std::optional<std::string> host;
    TrustResult result;
  } cases[] = {
      {"leaf for its address", {c.leaf, c.ca}, "127.0.0.1", TrustResult::Unspecified},
      {"leaf without its CA in the chain", {c.leaf}, "127.0.0.1", TrustResult::Unspecified},
      {"leaf, basic X.509", {c.leaf}, std::nullopt, TrustResult::Unspecified},
      {"wrong host", {c.wrongHostLeaf, c.ca}, "127.0.0.1", TrustResult::RecoverableTrustFailure},
      {"wrong host, basic X.509", {c.wrongHostLeaf}, std::nullopt, TrustResult::Unspecified},
      {"leaf by name", {c.leaf}, "localhost", TrustResult::RecoverableTrustFailure},
      {"unknown issuer", {c.selfSigned}, "127.0.0.1", TrustResult::RecoverableTrustFailure},
      {"no certificate", {}, "127.0.0.1", TrustResult::FatalTrustFailure},
      {"garbage leaf", {Bytes{0x30, 0x03, 1, 2, 3}}, "127.0.0.1", TrustResult::FatalTrustFailure},
  };
  for (const auto& k : cases) {
    auto trust = ServerTrust{k.chain, std::nullopt, {c.ca}, {}};
    trust.policyHost = k.host;
    EXPECT_EQ(trust.evaluate(), k.result) << k.name;
  }
  EXPECT_TRUE(ServerTrust::publicKey(c.leaf));
  EXPECT_NE(ServerTrust::publicKey(c.leaf), ServerTrust::publicKey(c.wrongHostLeaf));
  Bytes trailing = c.leaf;
  trailing.push_back(0);
  EXPECT_FALSE(ServerTrust::publicKey(trailing));
  EXPECT_FALSE(ServerTrust::isCertificate(Bytes{}));
}

// The chain a decision is taken on is the one that validated, never what the server sent:
// it ends at the anchor even when the server left it out, and holds nothing the server
// merely appended.
TEST(ServerTrustTest, HandsBackTheChainThatValidated) {
  static const TestCertificates c = TestCertificates::make();
  const struct {
    const char* name;
    std::vector<Bytes> chain;
    std::vector<Bytes> anchors;
    std::vector<Bytes> verified;  // empty: the chain does not validate
  } cases[] = {
      {"root sent", {c.leaf, c.ca}, {c.ca}, {c.leaf, c.ca}},
      {"root not sent", {c.leaf}, {c.ca}, {c.leaf, c.ca}},
      {"unrelated certificates appended", {c.otherCaLeaf, c.leaf, c.ca}, {c.ca, c.otherCa}, {c.otherCaLeaf, c.otherCa}},
      {"the leaf as the anchor", {c.leaf, c.ca}, {c.leaf}, {c.leaf}},
      {"appended anchor that signed nothing", {c.otherCaLeaf, c.ca}, {c.ca}, {}},
  };
  for (const auto& k : cases) {
    ServerTrust trust{k.chain, "127.0.0.1", k.anchors, {}};
    std::vector<Bytes> verified{Bytes{1}};  // cleared when nothing validates
    const TrustResult result = trust.evaluate(&verified);
    EXPECT_EQ(result, k.verified.empty() ? TrustResult::RecoverableTrustFailure : TrustResult::Unspecified) << k.name;
    EXPECT_EQ(verified, k.verified) << k.name;
  }
}

TEST(ServerTrustTest, SignedChainFollowsIssuerSignaturesOnly) {
  static const TestCertificates c = TestCertificates::make();
  const struct {
    const char* name;
    std::vector<Bytes> chain;
    std::vector<Bytes> signedChain;
  } cases[] = {
      {"leaf and its issuer", {c.leaf, c.ca}, {c.leaf, c.ca}},
      {"issuer sent out of order, strangers skipped", {c.leaf, c.otherCa, c.selfSigned, c.ca}, {c.leaf, c.ca}},
      {"issuer not sent", {c.wrongHostLeaf, c.otherCa}, {c.wrongHostLeaf}},
      {"self-signed leaf stops at once", {c.selfSigned, c.ca}, {c.selfSigned}},
      {"another CA's leaf with the pinned chain appended", {c.otherCaLeaf, c.leaf, c.ca}, {c.otherCaLeaf}},
      {"garbage leaf", {Bytes{0x30, 0x03, 1, 2, 3}, c.ca}, {}},
  };
  for (const auto& k : cases) {
    EXPECT_EQ((ServerTrust{k.chain, std::nullopt, {}, {}}.signedChain()), k.signedChain) << k.name;
  }
  const Bytes caKey = *ServerTrust::publicKey(c.ca);
  EXPECT_TRUE(ServerTrust::isSignedBy(c.leaf, caKey));
  EXPECT_TRUE(ServerTrust::isSignedBy(c.ca, caKey));
  EXPECT_FALSE(ServerTrust::isSignedBy(c.otherCaLeaf, caKey));
  EXPECT_FALSE(ServerTrust::isSignedBy(c.leaf, Bytes{1, 2, 3}));
  EXPECT_FALSE(ServerTrust::isSignedBy(Bytes{1, 2, 3}, caKey));
}

}  // namespace
}  // namespace velmora::platform::net
