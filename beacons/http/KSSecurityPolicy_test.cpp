#include "beacons/http/KSSecurityPolicy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "beacons/http/KSCachePolicy.h"
#include "platform/core/Log.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"
#include "testing/LoopbackTlsServer.h"
#include "testing/TempDir.h"
#include "testing/TestCertificates.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::net::ServerTrust;
using velmora::testing::TestCertificates;

const TestCertificates& certs() {
  static const TestCertificates c = TestCertificates::make();
  return c;
}

// The trust a session builds for a server that presents `chain`, with both test CAs as the
// configured roots.
ServerTrust trustFor(std::vector<Bytes> chain) {
  ServerTrust trust;
  trust.chain = std::move(chain);
  trust.anchors = {certs().ca, certs().otherCa};
  return trust;
}

// Pins are letters: C the CA, L the leaf, W the wrong-host leaf, S the self-signed one,
// G bytes that are no certificate; nullptr leaves them unset.
struct PolicySetup {
  unsigned mode = KSSSLPinningModeNone;
  const char* pins = "";
  bool allowInvalid = false;
  bool validatesDomain = true;
};

KSSecurityPolicy::CertificateSet pinsFrom(const char* letters) {
  KSSecurityPolicy::CertificateSet pins;
  for (const char* p = letters; *p != 0; ++p) {
    switch (*p) {
      case 'C': pins.insert(certs().ca); break;
      case 'L': pins.insert(certs().leaf); break;
      case 'W': pins.insert(certs().wrongHostLeaf); break;
      case 'S': pins.insert(certs().selfSigned); break;
      default: pins.insert(Bytes{1, 2, 3}); break;
    }
  }
  return pins;
}

std::shared_ptr<KSSecurityPolicy> makePolicy(const PolicySetup& s) {
  auto policy = KSSecurityPolicy::defaultPolicy();
  policy->setSSLPinningMode(s.mode);
  if (s.pins) policy->setPinnedCertificates(pinsFrom(s.pins));
  policy->setAllowInvalidCertificates(s.allowInvalid);
  policy->setValidatesDomainName(s.validatesDomain);
  return policy;
}

TEST(KSSecurityPolicyTest, DecidesByModePinsAndHost) {
  const auto& c = certs();
  const std::optional<std::string> local = "127.0.0.1";
  const struct {
    const char* name;
    PolicySetup setup;
    std::vector<Bytes> chain;
    std::optional<std::string> domain;
    bool accepted;
  } cases[] = {
      {"default accepts the CA's leaf", {}, {c.leaf, c.ca}, local, true},
      {"default refuses a host mismatch", {}, {c.wrongHostLeaf, c.ca}, local, false},
      {"default refuses an unknown issuer", {}, {c.selfSigned}, local, false},
      {"no domain: no host check", {}, {c.wrongHostLeaf, c.ca}, std::nullopt, true},
      {"domain not validated", {.validatesDomain = false}, {c.wrongHostLeaf}, local, true},
      {"invalid allowed, no pinning: refuses even a valid server", {.allowInvalid = true}, {c.leaf}, local, false},
      {"invalid allowed, pins but mode none", {.pins = "C", .allowInvalid = true}, {c.leaf}, local, false},
      {"invalid allowed, no domain skips the pinning rule", {.allowInvalid = true}, {c.selfSigned}, std::nullopt,
       true},
      {"invalid allowed, domain not validated", {.allowInvalid = true, .validatesDomain = false}, {c.selfSigned},
       local, true},
      {"certificate: pinned root", {KSSSLPinningModeCertificate, "C"}, {c.leaf, c.ca}, local, true},
      {"certificate: pinned root not sent", {KSSSLPinningModeCertificate, "C"}, {c.leaf}, local, true},
      {"certificate: pinned leaf", {KSSSLPinningModeCertificate, "L"}, {c.leaf, c.ca}, local, true},
      {"certificate: pin among garbage", {KSSSLPinningModeCertificate, "GC"}, {c.leaf, c.ca}, local,
       true},
      {"certificate: other pin", {KSSSLPinningModeCertificate, "S"}, {c.leaf, c.ca}, local, false},
      {"certificate: pinned but wrong host", {KSSSLPinningModeCertificate, "C"}, {c.wrongHostLeaf, c.ca},
       local, false},
      {"certificate: no pins", {KSSSLPinningModeCertificate, ""}, {c.leaf, c.ca}, local, false},
      {"certificate: self-signed pinned, invalid allowed",
       {KSSSLPinningModeCertificate, "S", true},
       {c.selfSigned},
       local,
       true},
      {"certificate: self-signed pinned, invalid refused", {KSSSLPinningModeCertificate, "S"},
       {c.selfSigned}, local, false},
      {"public key: leaf's key", {KSSSLPinningModePublicKey, "L"}, {c.leaf, c.ca}, local, true},
      {"public key: CA's key", {KSSSLPinningModePublicKey, "C"}, {c.leaf, c.ca}, local, true},
      {"public key: other key", {KSSSLPinningModePublicKey, "WG"}, {c.leaf, c.ca}, local,
       false},
      {"public key: no pins", {KSSSLPinningModePublicKey, nullptr}, {c.leaf, c.ca}, local, false},
      {"public key: pinned root not sent", {KSSSLPinningModePublicKey, "C"}, {c.leaf}, local, true},
      {"public key: self-signed pinned, invalid allowed", {KSSSLPinningModePublicKey, "S", true},
       {c.selfSigned}, local, true},
      {"public key, invalid allowed: pinned issuer sent", {KSSSLPinningModePublicKey, "C", true},
       {c.wrongHostLeaf, c.ca}, local, true},
      {"public key, invalid allowed: pinned issuer not sent", {KSSSLPinningModePublicKey, "C", true},
       {c.wrongHostLeaf}, local, true},
      {"public key, invalid allowed: the pinned leaf itself", {KSSSLPinningModePublicKey, "W", true},
       {c.wrongHostLeaf}, local, true},
      {"public key: valid key but invalid chain", {KSSSLPinningModePublicKey, "S"}, {c.selfSigned},
       local, false},
      {"unknown mode", {7, "C"}, {c.leaf, c.ca}, local, false},
      // Impostors: a server that another trusted CA (or nobody) vouches for, sending a copy of
      // the pinned certificate after its own leaf.
      {"impostor, certificate: pinned root appended", {KSSSLPinningModeCertificate, "C"}, {c.otherCaLeaf, c.ca},
       local, false},
      {"impostor, certificate: pinned leaf appended", {KSSSLPinningModeCertificate, "L"},
       {c.otherCaLeaf, c.leaf}, local, false},
      {"impostor, public key: pinned root appended", {KSSSLPinningModePublicKey, "C"}, {c.otherCaLeaf, c.ca},
       local, false},
      {"impostor, public key: pinned leaf appended", {KSSSLPinningModePublicKey, "L"}, {c.otherCaLeaf, c.leaf},
       local, false},
      {"impostor, public key: pinned chain appended", {KSSSLPinningModePublicKey, "C"},
       {c.otherCaLeaf, c.leaf, c.ca}, local, false},
      {"impostor, invalid allowed, certificate: self-signed + pinned root",
       {KSSSLPinningModeCertificate, "C", true}, {c.selfSigned, c.ca}, local, false},
      {"impostor, invalid allowed, public key: self-signed + pinned root", {KSSSLPinningModePublicKey, "C", true},
       {c.selfSigned, c.ca}, local, false},
      {"impostor, invalid allowed, public key: self-signed + pinned leaf", {KSSSLPinningModePublicKey, "L", true},
       {c.selfSigned, c.leaf}, local, false},
      {"impostor, invalid allowed, public key: valid other-CA leaf + pinned root",
       {KSSSLPinningModePublicKey, "C", true}, {c.otherCaLeaf, c.ca}, local, false},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(makePolicy(k.setup)->evaluateServerTrust(trustFor(k.chain), k.domain), k.accepted) << k.name;
  }
}

TEST(KSSecurityPolicyTest, AllowingInvalidCertificatesWithoutPinsLogsWhyItRefuses) {
  platform::LogCapture capture;
  auto policy = KSSecurityPolicy::defaultPolicy();
  policy->setAllowInvalidCertificates(true);
  EXPECT_FALSE(policy->evaluateServerTrust(trustFor({certs().leaf}), "127.0.0.1"));
  EXPECT_EQ(capture.count("In order to validate a domain name for self signed certificates, you MUST use pinning."), 1u);
}

TEST(KSSecurityPolicyTest, PinnedKeysFollowTheCertificatesAndSettingsSurviveCodingAndCopy) {
  const auto& c = certs();
  auto policy = KSSecurityPolicy::policyWithPinningMode(KSSSLPinningModePublicKey, {c.leaf, Bytes{9, 9}});
  EXPECT_EQ(policy->pinnedCertificates()->size(), 2u);
  ASSERT_TRUE(policy->pinnedPublicKeys());
  EXPECT_EQ(*policy->pinnedPublicKeys(), KSSecurityPolicy::CertificateSet{*ServerTrust::publicKey(c.leaf)});
  policy->setAllowInvalidCertificates(true);
  policy->setValidatesDomainName(false);

  auto decoded = KSSecurityPolicy::initWithCoder(policy->encodeWithCoder());
  auto copied = policy->copy();
  for (const auto& p : {decoded, copied}) {
    ASSERT_TRUE(p);
    EXPECT_EQ(p->SSLPinningMode(), KSSSLPinningModePublicKey);
    EXPECT_TRUE(p->allowInvalidCertificates());
    EXPECT_FALSE(p->validatesDomainName());
    EXPECT_EQ(p->pinnedCertificates(), policy->pinnedCertificates());
    EXPECT_EQ(p->pinnedPublicKeys(), policy->pinnedPublicKeys());
  }
  copied->setPinnedCertificates(std::nullopt);
  EXPECT_FALSE(copied->pinnedPublicKeys());
  EXPECT_TRUE(policy->pinnedPublicKeys());  // the copy is its own

  auto fresh = KSSecurityPolicy::defaultPolicy();
  EXPECT_EQ(fresh->SSLPinningMode(), KSSSLPinningModeNone);
  EXPECT_FALSE(fresh->allowInvalidCertificates());
  EXPECT_TRUE(fresh->validatesDomainName());
  EXPECT_FALSE(KSSecurityPolicy::initWithCoder(platform::Value("not coded")));
}

TEST(KSSecurityPolicyTest, CertificatesInBundleReadsTopLevelCerFilesOnly) {
  velmora::testing::TempDir dir;
  const auto write = [](const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  write(dir.path() / "ca.cer", certs().ca);
  write(dir.path() / "leaf.pem", certs().leaf);
  std::filesystem::create_directory(dir.path() / "nested");
  write(dir.path() / "nested" / "other.cer", certs().selfSigned);
  EXPECT_EQ(KSSecurityPolicy::certificatesInBundle(dir.path()), KSSecurityPolicy::CertificateSet{certs().ca});
  EXPECT_TRUE(KSSecurityPolicy::certificatesInBundle(dir.path() / "missing").empty());
}

// The policy judging real handshakes: a session hands each server's chain and host to it,
// trusting both test CAs as its configured roots.
TEST(KSSecurityPolicyTest, JudgesRealHandshakes) {
  const auto& c = certs();
  velmora::testing::TempDir dir;
  const auto caFile = dir.path() / "ca.pem";
  {
    std::ofstream out(caFile);
    out << TestCertificates::toPem(c.ca) << TestCertificates::toPem(c.otherCa);
  }
  using Server = velmora::testing::LoopbackTlsServer;
  Server good({c.leaf, c.ca}, c.leafKeyPem);
  Server leafOnly({c.leaf}, c.leafKeyPem);  // leaves the root out, as servers usually do
  Server wrongHost({c.wrongHostLeaf, c.ca}, c.wrongHostLeafKeyPem);
  Server selfSigned({c.selfSigned}, c.selfSignedKeyPem);
  // Impostors: another trusted CA's leaf, or a self-signed one, with the pinned certificates
  // appended.
  Server otherCaPlusRoot({c.otherCaLeaf, c.ca}, c.otherCaLeafKeyPem);
  Server otherCaPlusLeaf({c.otherCaLeaf, c.leaf, c.ca}, c.otherCaLeafKeyPem);
  Server selfSignedPlusRoot({c.selfSigned, c.ca}, c.selfSignedKeyPem);
  Server selfSignedPlusLeaf({c.selfSigned, c.leaf}, c.selfSignedKeyPem);
  const auto leafOf = [&](const Server* s) {
    if (s == &good || s == &leafOnly) return c.leaf;
    if (s == &wrongHost) return c.wrongHostLeaf;
    if (s == &otherCaPlusRoot || s == &otherCaPlusLeaf) return c.otherCaLeaf;
    return c.selfSigned;
  };

  const struct {
    const char* name;
    PolicySetup setup;
    Server* server;
    bool accepted;
  } cases[] = {
      {"default, the CA's leaf", {}, &good, true},
      {"default, wrong host", {}, &wrongHost, false},
      {"default, self-signed", {}, &selfSigned, false},
      {"certificate pin on the CA", {KSSSLPinningModeCertificate, "C"}, &good, true},
      {"certificate pin on the CA, root not sent", {KSSSLPinningModeCertificate, "C"}, &leafOnly, true},
      {"certificate pin on the self-signed, invalid allowed", {KSSSLPinningModeCertificate, "S", true},
       &selfSigned, true},
      {"public-key pin on the leaf", {KSSSLPinningModePublicKey, "L"}, &good, true},
      {"public-key pin on the CA, root not sent", {KSSSLPinningModePublicKey, "C"}, &leafOnly, true},
      {"public-key pin on another key", {KSSSLPinningModePublicKey, "W"}, &good, false},
      {"invalid allowed without pins", {.allowInvalid = true}, &good, false},
      {"impostor, certificate pin on the CA", {KSSSLPinningModeCertificate, "C"}, &otherCaPlusRoot, false},
      {"impostor, certificate pin on the leaf", {KSSSLPinningModeCertificate, "L"}, &otherCaPlusLeaf, false},
      {"impostor, public-key pin on the CA", {KSSSLPinningModePublicKey, "C"}, &otherCaPlusRoot, false},
      {"impostor, public-key pin on the leaf", {KSSSLPinningModePublicKey, "L"}, &otherCaPlusLeaf, false},
      {"impostor, invalid allowed, certificate pin on the CA", {KSSSLPinningModeCertificate, "C", true},
       &selfSignedPlusRoot, false},
      {"impostor, invalid allowed, public-key pin on the CA", {KSSSLPinningModePublicKey, "C", true},
       &selfSignedPlusRoot, false},
      {"impostor, invalid allowed, public-key pin on the leaf", {KSSSLPinningModePublicKey, "L", true},
       &selfSignedPlusLeaf, false},
      {"impostor, invalid allowed, other CA, public-key pin on the CA", {KSSSLPinningModePublicKey, "C", true},
       &otherCaPlusRoot, false},
  };
  for (const auto& k : cases) {
    auto policy = makePolicy(k.setup);
    std::size_t asked = 0;
    auto session = platform::net::URLSession::create(
        {.caFile = caFile.string(),
         .serverTrustEvaluator = [&](const ServerTrust& trust, const std::string& host) {
           ++asked;
           EXPECT_EQ(host, "127.0.0.1");
           EXPECT_EQ(trust.chain.front(), leafOf(k.server));
           return policy->evaluateServerTrust(trust, host);
         }});
    const std::size_t requestsBefore = k.server->requestsReceived();
    const std::size_t handshakesBefore = k.server->handshakesCompleted();
    const std::size_t connectionsBefore = k.server->connectionsFinished();
    platform::LogCapture capture;
    const auto reply = session->sendSynchronousRequest(
        {.url = k.server->baseUrl() + "/x", .headers = {{"Authorization", "Bearer secret"}}});
    EXPECT_EQ(asked, 1u) << k.name;
    // One case's failed assertion ends that case only.
    [&] {
      if (k.accepted) {
        ASSERT_TRUE(reply.response) << k.name << " " << (reply.error ? reply.error->localizedDescription : "");
        EXPECT_EQ(reply.response->statusCode, 200) << k.name;
        EXPECT_EQ(k.server->requestsReceived(), requestsBefore + 1) << k.name;
      } else {
        ASSERT_TRUE(reply.error) << k.name;
        EXPECT_EQ(reply.error->code, platform::net::kURLErrorServerCertificateUntrusted) << k.name;
        EXPECT_FALSE(reply.response) << k.name;
        // The handshake never completed, so not a byte of the request (its head included) went out.
        ASSERT_TRUE(k.server->waitForConnectionsFinished(connectionsBefore + 1, std::chrono::seconds(10))) << k.name;
        EXPECT_EQ(k.server->handshakesCompleted(), handshakesBefore) << k.name;
        EXPECT_EQ(k.server->requestsReceived(), requestsBefore) << k.name;
      }
    }();
    const bool logsWhy = !k.setup.validatesDomain ? false : k.setup.allowInvalid && k.setup.mode == 0;
    EXPECT_EQ(capture.count("you MUST use pinning"), logsWhy ? 1u : 0u) << k.name;
  }
}

TEST(KSCachePolicyTest, OneSharedCacheInMemoryAndInTheUsersCacheFolder) {
  auto cache = KSCachePolicy::sharedURLCache();
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache, KSCachePolicy::sharedURLCache());
  EXPECT_EQ(cache->memoryCapacity(), 2'097'152u);
  EXPECT_EQ(cache->diskCapacity(), 104'857'600u);
  const auto folder = platform::net::URLCache::defaultDiskDirectory();
  ASSERT_TRUE(folder);
  EXPECT_TRUE(std::filesystem::exists(*folder / "Cache.db"));
}

}  // namespace
}  // namespace velmora::kestrine
