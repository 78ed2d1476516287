// The configuration byte layer: CRC-16, cutting a request into transport packets, and the
// AES and CMAC work of the logins and the offline settings update.
// Run: build/default/bench/packets_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "beacons/configuration/KSTransportPacket.h"
#include "platform/crypto/Aes.h"
#include "platform/crypto/Cmac.h"
#include "platform/crypto/Crc16.h"

namespace {

constexpr std::size_t k64KiB = 64 * 1024;

std::vector<std::uint8_t> bytes(std::size_t n) {
  std::vector<std::uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return b;
}

const std::vector<std::uint8_t> kKey = bytes(16);
const std::vector<std::uint8_t> kIV(16, 0x5A);

void BM_Crc16Over64KiB(benchmark::State& state) {
  const auto data = bytes(k64KiB);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::crc16Arc(data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc16Over64KiB);

// 269 packets of 244 bytes (and one of 144), each framed and given its CRC.
void BM_CutA64KiBRequestIntoPackets(benchmark::State& state) {
  const auto data = bytes(k64KiB);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::kestrine::KSTransportPacket::transportDataArrayFromData(data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CutA64KiBRequestIntoPackets);

void BM_AesCbcEncrypt64KiB(benchmark::State& state) {
  const auto data = bytes(k64KiB);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::aes128CbcEncrypt(kKey, kIV, data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_AesCbcEncrypt64KiB);

void BM_AesCbcDecrypt64KiB(benchmark::State& state) {
  const auto data = *velmora::platform::crypto::aes128CbcEncrypt(kKey, kIV, bytes(k64KiB));
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::aes128CbcDecrypt(kKey, kIV, data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_AesCbcDecrypt64KiB);

// One block, as a login answers its challenge: dominated by setting the cipher up.
void BM_AesEcbOneBlock(benchmark::State& state) {
  const auto block = bytes(16);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::aes128EcbEncrypt(kKey, block));
}
BENCHMARK(BM_AesEcbOneBlock);

void BM_Cmac4KiB(benchmark::State& state) {
  const auto data = bytes(4096);
  for (auto _ : state) benchmark::DoNotOptimize(velmora::platform::crypto::aesCmac(kKey, data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Cmac4KiB);

}  // namespace

BENCHMARK_MAIN();
