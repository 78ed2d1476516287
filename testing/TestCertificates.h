#pragma once

#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::testing {

// A small PKI for TLS tests, made fresh (EC P-256 keys, valid from a minute ago for a day):
// a test CA, a leaf it signs for 127.0.0.1, a leaf it signs for another host only, an
// unrelated self-signed certificate for 127.0.0.1, and a second CA with its own leaf for
// 127.0.0.1 (a server that another trusted CA vouches for). Certificates are DER; the leaves' keys
// are PEM so a server can present them. Throws std::runtime_error when OpenSSL fails.
struct TestCertificates {
  platform::Bytes ca;
  platform::Bytes leaf;           // CN and subjectAltName IP 127.0.0.1, issued by ca
  std::string leafKeyPem;
  platform::Bytes wrongHostLeaf;  // subjectAltName DNS wrong-host.invalid only, issued by ca
  std::string wrongHostLeafKeyPem;
  platform::Bytes selfSigned;     // 127.0.0.1, issued by itself
  std::string selfSignedKeyPem;
  platform::Bytes otherCa;        // "Other Test CA", self-signed
  platform::Bytes otherCaLeaf;    // CN and subjectAltName IP 127.0.0.1, issued by otherCa
  std::string otherCaLeafKeyPem;

  static TestCertificates make();

  static std::string toPem(const platform::Bytes& der);
};

}  // namespace velmora::testing
