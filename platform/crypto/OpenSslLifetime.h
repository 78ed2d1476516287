#pragma once

namespace velmora::platform::crypto {

// Starts OpenSSL, once, without the exit handler that would free its tables while the
// process exits. The SDK's queues may still be running work that uses them at that moment
// (a temporary file name drawn at random, a digest, a TLS handshake), so a host that returns
// from main with the SDK running would crash in OpenSSL; the system reclaims the memory
// instead. Called before the first use of OpenSSL by this layer (libcurl's set-up included);
// a host that used OpenSSL before that keeps the handler its own start registered.
void keepOpenSslUntilExit();

}  // namespace velmora::platform::crypto
