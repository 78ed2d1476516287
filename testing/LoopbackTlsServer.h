#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

// A minimal HTTPS server for tests, listening on 127.0.0.1 with an ephemeral port.
//
// By default its certificate is self-signed, made fresh by the constructor (EC P-256,
// subject CN and subjectAltName IP 127.0.0.1), so no client trusts it unless told to; or it
// presents a chain it is given. One thread accepts and serves connections one at a time: it
// attempts the TLS handshake, and after a completed handshake reads one request head and answers 200 with the body "{}", then closes. It counts
// what it saw so a test can tell a refused handshake from a request that got through.
// Every wait is bounded; the destructor stops and joins promptly.
class LoopbackTlsServer {
 public:
  // Throws std::runtime_error when the key, certificate, TLS context or socket cannot be set up.
  LoopbackTlsServer();
  // Presents `chain` (DER, the leaf first) with the leaf's private key in PEM form.
  LoopbackTlsServer(const std::vector<std::vector<std::uint8_t>>& chain, const std::string& leafKeyPem);
  ~LoopbackTlsServer();
  LoopbackTlsServer(const LoopbackTlsServer&) = delete;
  LoopbackTlsServer& operator=(const LoopbackTlsServer&) = delete;

  int port() const { return port_; }
  // "https://127.0.0.1:<port>"
  std::string baseUrl() const;

  // The server certificate in PEM form.
  const std::string& certificatePem() const { return certificatePem_; }
  // Writes the certificate as PEM to `path`; throws std::runtime_error on failure.
  void writeCertificatePem(const std::filesystem::path& path) const;

  // Replaces the answer to every later request: the whole response as it goes on the wire,
  // status line, headers and body. The default is a 200 with the body "{}".
  void setRawReply(std::string reply);

  // Connections accepted and then finished with (whatever the outcome).
  std::size_t connectionsFinished() const;
  // TLS handshakes that completed.
  std::size_t handshakesCompleted() const;
  // Request heads read over a completed handshake.
  std::size_t requestsReceived() const;
  // Waits until at least `n` connections are finished or `bound` elapsed; true when they are.
  bool waitForConnectionsFinished(std::size_t n, std::chrono::milliseconds bound) const;

 private:
  struct Tls;

  void listenAndServe();
  void acceptLoop();
  void serve(int fd);

  std::unique_ptr<Tls> tls_;
  std::string certificatePem_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::size_t connectionsFinished_ = 0;
  std::size_t handshakesCompleted_ = 0;
  std::size_t requestsReceived_ = 0;
  std::string reply_;
  std::thread acceptThread_;
};

}  // namespace velmora::testing
