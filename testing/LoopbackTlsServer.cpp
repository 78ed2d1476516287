#include "testing/LoopbackTlsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string_view>

#include "testing/IsolatedCacheFolder.h"
#include "testing/OpenSslHandles.h"

namespace velmora::testing {

namespace {
// Before any test makes the SDK's shared URL cache.
[[maybe_unused]] const bool cacheFolderIsolated = (isolateUserCacheFolder(), true);
}  // namespace


namespace {

constexpr int kPollMillis = 50;
// How long one connection may take from accept to close before it is dropped.
constexpr auto kConnectionBound = std::chrono::seconds(5);
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::string_view kReply =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";

[[noreturn]] void fail(const std::string& what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  std::string message = "LoopbackTlsServer: " + what;
  if (code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += ": ";
    message += text;
  }
  throw std::runtime_error(message);
}

using namespace velmora::testing::openssl;

void addExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) fail(std::string("cannot add extension ") + value);
}

// A self-signed certificate for 127.0.0.1, valid from a minute ago for one day.
std::unique_ptr<X509, X509Free> makeCertificate(EVP_PKEY* key) {
  std::unique_ptr<X509, X509Free> cert(X509_new());
  if (!cert) fail("X509_new");
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) fail("RAND_bytes");
  serial[0] &= 0x7f;  // keep it positive
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(bn);
  if (!serialSet) fail("serial number");
  if (X509_set_version(cert.get(), X509_VERSION_3) != 1) fail("X509_set_version");
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24L * 60 * 60)) {
    fail("validity");
  }
  X509_NAME* name = X509_get_subject_name(cert.get());
  if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                                 -1, 0) != 1 ||
      X509_set_issuer_name(cert.get(), name) != 1) {
    fail("subject name");
  }
  if (X509_set_pubkey(cert.get(), key) != 1) fail("X509_set_pubkey");
  addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1");
  if (X509_sign(cert.get(), key, EVP_sha256()) <= 0) fail("X509_sign");
  return cert;
}

// Waits until `fd` is ready for what the last TLS call asked for, the server stops, or the
// deadline passes; false when the connection should be given up.
bool waitFor(int fd, int sslError, const std::atomic<bool>& stopping,
             std::chrono::steady_clock::time_point deadline) {
  short events = 0;
  if (sslError == SSL_ERROR_WANT_READ) events = POLLIN;
  else if (sslError == SSL_ERROR_WANT_WRITE) events = POLLOUT;
  else return false;
  while (!stopping.load() && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, kPollMillis);
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return false;
  }
  return false;
}

}  // namespace

struct LoopbackTlsServer::Tls {
  std::unique_ptr<SSL_CTX, SslCtxFree> ctx;
};

LoopbackTlsServer::LoopbackTlsServer() : tls_(std::make_unique<Tls>()) {
  std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) fail("key generation");
  auto cert = makeCertificate(key.get());

  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert.get()) != 1) fail("PEM encoding");
  char* pem = nullptr;
  const long pemLength = BIO_get_mem_data(bio.get(), &pem);
  certificatePem_.assign(pem, static_cast<std::size_t>(pemLength));

  tls_->ctx.reset(SSL_CTX_new(TLS_server_method()));
  if (!tls_->ctx) fail("SSL_CTX_new");
  if (SSL_CTX_set_min_proto_version(tls_->ctx.get(), TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate(tls_->ctx.get(), cert.get()) != 1 ||
      SSL_CTX_use_PrivateKey(tls_->ctx.get(), key.get()) != 1 || SSL_CTX_check_private_key(tls_->ctx.get()) != 1) {
    fail("TLS context");
  }

  listenAndServe();
}

LoopbackTlsServer::LoopbackTlsServer(const std::vector<std::vector<std::uint8_t>>& chain, const std::string& leafKeyPem)
    : tls_(std::make_unique<Tls>()) {
  if (chain.empty()) fail("an empty chain");
  const auto parse = [](const std::vector<std::uint8_t>& der) {
    const unsigned char* p = der.data();
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert) fail("a chain element is no certificate");
    return cert;
  };
  std::unique_ptr<BIO, BioFree> keyBio(BIO_new_mem_buf(leafKeyPem.data(), static_cast<int>(leafKeyPem.size())));
  std::unique_ptr<EVP_PKEY, PkeyFree> key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr)
                                                 : nullptr);
  if (!key) fail("the leaf key");
  auto leaf = parse(chain.front());
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), leaf.get()) != 1) fail("PEM encoding");
  char* pem = nullptr;
  const long pemLength = BIO_get_mem_data(bio.get(), &pem);
  certificatePem_.assign(pem, static_cast<std::size_t>(pemLength));

  tls_->ctx.reset(SSL_CTX_new(TLS_server_method()));
  if (!tls_->ctx) fail("SSL_CTX_new");
  if (SSL_CTX_set_min_proto_version(tls_->ctx.get(), TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate(tls_->ctx.get(), leaf.get()) != 1 ||
      SSL_CTX_use_PrivateKey(tls_->ctx.get(), key.get()) != 1 || SSL_CTX_check_private_key(tls_->ctx.get()) != 1) {
    fail("TLS context");
  }
  for (std::size_t i = 1; i < chain.size(); ++i) {
    auto cert = parse(chain[i]);
    if (SSL_CTX_add1_chain_cert(tls_->ctx.get(), cert.get()) != 1) fail("chain certificate");
  }
  listenAndServe();
}

void LoopbackTlsServer::listenAndServe() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) throw std::runtime_error(std::string("LoopbackTlsServer: socket: ") + std::strerror(errno));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    const std::string error = std::strerror(errno);
    ::close(listenFd_);
    throw std::runtime_error("LoopbackTlsServer: listen: " + error);
  }
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackTlsServer::~LoopbackTlsServer() {
  stopping_.store(true);
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
}

std::string LoopbackTlsServer::baseUrl() const { return "https://127.0.0.1:" + std::to_string(port_); }

void LoopbackTlsServer::setRawReply(std::string reply) {
  std::lock_guard lock(mutex_);
  reply_ = std::move(reply);
}

void LoopbackTlsServer::writeCertificatePem(const std::filesystem::path& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << certificatePem_;
  out.close();
  if (!out) throw std::runtime_error("LoopbackTlsServer: cannot write " + path.string());
}

std::size_t LoopbackTlsServer::connectionsFinished() const {
  std::lock_guard lock(mutex_);
  return connectionsFinished_;
}

std::size_t LoopbackTlsServer::handshakesCompleted() const {
  std::lock_guard lock(mutex_);
  return handshakesCompleted_;
}

std::size_t LoopbackTlsServer::requestsReceived() const {
  std::lock_guard lock(mutex_);
  return requestsReceived_;
}

bool LoopbackTlsServer::waitForConnectionsFinished(std::size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return connectionsFinished_ >= n; });
}

void LoopbackTlsServer::acceptLoop() {
  // A peer that hangs up must not take the process down with SIGPIPE when the TLS layer writes
  // (an alert, close_notify): with the signal blocked here, those writes fail with EPIPE.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  while (!stopping_.load()) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, kPollMillis) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    serve(fd);
    ::close(fd);
    {
      std::lock_guard lock(mutex_);
      ++connectionsFinished_;
    }
    changed_.notify_all();
  }
}

void LoopbackTlsServer::serve(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kConnectionBound;
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(tls_->ctx.get()));
  if (!ssl || SSL_set_fd(ssl.get(), fd) != 1) {
    ERR_clear_error();
    return;
  }

  for (;;) {
    const int rc = SSL_accept(ssl.get());
    if (rc == 1) break;
    if (!waitFor(fd, SSL_get_error(ssl.get(), rc), stopping_, deadline)) {
      ERR_clear_error();
      return;
    }
  }
  {
    std::lock_guard lock(mutex_);
    ++handshakesCompleted_;
  }

  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > kMaxHeadBytes) return;
    const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
    if (n > 0) {
      head.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (!waitFor(fd, SSL_get_error(ssl.get(), n), stopping_, deadline)) {
      ERR_clear_error();
      return;
    }
  }
  std::string reply;
  {
    std::lock_guard lock(mutex_);
    ++requestsReceived_;
    reply = reply_.empty() ? std::string(kReply) : reply_;
  }

  std::size_t sent = 0;
  while (sent < reply.size()) {
    const int n = SSL_write(ssl.get(), reply.data() + sent, static_cast<int>(reply.size() - sent));
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (!waitFor(fd, SSL_get_error(ssl.get(), n), stopping_, deadline)) {
      ERR_clear_error();
      return;
    }
  }
  SSL_shutdown(ssl.get());  // one close_notify, not waiting for the peer's
  ERR_clear_error();
}

}  // namespace velmora::testing
