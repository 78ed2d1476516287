#include "platform/crypto/OpenSslLifetime.h"

#include <openssl/crypto.h>

namespace velmora::platform::crypto {

void keepOpenSslUntilExit() {
  static const bool once = [] { return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1; }();
  (void)once;
}

namespace {
// At load, on the thread that starts the process, before anything else of the tree can
// start OpenSSL with its exit handler.
[[maybe_unused]] const bool openSslKeptAtLoad = (keepOpenSslUntilExit(), true);
}  // namespace

}  // namespace velmora::platform::crypto
