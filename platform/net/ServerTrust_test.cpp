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

}  // namespace
}  // namespace velmora::platform::net
