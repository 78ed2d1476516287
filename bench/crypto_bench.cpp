// The crypto the beacon logins and firmware updates stand on: one AES-128 block, a CMAC tag
// over 4 KiB and a SHA-1 digest of a 200 KiB image. Run: build/default/bench/crypto_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/crypto/Aes.h"
#include "platform/crypto/Cmac.h"
#include "platform/crypto/Digest.h"

namespace {

std::vector<std::uint8_t> bytes(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return out;
}

void BM_AesEcbOneBlock(benchmark::State& state) {
  const auto key = bytes(16);
  const auto block = bytes(16);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::aes128EcbEncrypt(key, block));
}
BENCHMARK(BM_AesEcbOneBlock);

void BM_CmacFourKiB(benchmark::State& state) {
  const auto key = bytes(16);
  const auto message = bytes(4096);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::aesCmac(key, message));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_CmacFourKiB);

void BM_Sha1TwoHundredKiB(benchmark::State& state) {
  const auto image = bytes(200 * 1024);
  for (auto _ : state) {
    benchmark::DoNotOptimize(velmora::platform::crypto::digest(velmora::platform::crypto::DigestAlgorithm::SHA1, image));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 200 * 1024);
}
BENCHMARK(BM_Sha1TwoHundredKiB)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
