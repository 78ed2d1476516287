#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"

#include <charconv>

#include <fmt/format.h>

#include "beacons/configuration/KSBeaconUpdateDownloads.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "beacons/model/KSBeacon.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Error;

constexpr float kMinDelayMilliseconds = 5;
constexpr float kMaxDelayMilliseconds = 30;
constexpr std::uint64_t kRecordSize = 18;

}  // namespace

std::shared_ptr<KSBeaconFirmwareEncryptedUpdateOperation> KSBeaconFirmwareEncryptedUpdateOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
    std::optional<std::string> targetFwVersion, std::shared_ptr<KSApiClient> client) {
  return std::make_shared<KSBeaconFirmwareEncryptedUpdateOperation>(
      Token{}, std::move(beacon), std::move(peripheralIdentifier), std::move(targetFwVersion), std::move(client));
}

std::shared_ptr<KSBeaconOperation> KSBeaconFirmwareEncryptedUpdateOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, targetFwVersion_, client_);
}

std::optional<std::size_t> KSBeaconFirmwareEncryptedUpdateOperation::headerLength(
    const std::optional<std::string>& field, std::size_t replyLength) {
  if (!field) return 0;
  const std::string& text = *field;
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value > replyLength) return std::nullopt;
  return static_cast<std::size_t>(value);
}

Bytes KSBeaconFirmwareEncryptedUpdateOperation::records(const Bytes& body) {
  Bytes out;
  out.reserve(body.size() + 2 * ((body.size() + 15) / 16));
  for (std::size_t at = 0, k = 0; at < body.size(); at += 16, ++k) {
    out.push_back(static_cast<std::uint8_t>(k >> 8));
    out.push_back(static_cast<std::uint8_t>(k & 0xFF));
    out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(at),
               body.begin() + static_cast<std::ptrdiff_t>(std::min(body.size(), at + 16)));
  }
  return out;
}

void KSBeaconFirmwareEncryptedUpdateOperation::startDownloads(const std::string&) {
  const std::string version = targetFwVersion_.value_or("latest");
  auto self = std::static_pointer_cast<KSBeaconFirmwareEncryptedUpdateOperation>(me());
  beacon_updates::downloadHEXVersion(
      *beacon(), version, status_,
      [self, version](const Bytes& reply, const platform::net::HTTPURLResponse& response) {
        self->onQueue([reply, response, version](KSBeaconFirmwareUpdateOperation& base) {
          auto& op = static_cast<KSBeaconFirmwareEncryptedUpdateOperation&>(base);
          const auto field = response.headerValue("Firmware-Header-Length");
          const auto length = headerLength(field, reply.size());
          if (!length) {
            op.downloadError_ =
                op.errorWithDescription(fmt::format("Invalid Firmware-Header-Length {}", field.value_or("(null)")));
            return op.stopWritingKeepAliveStatus();
          }
          op.header_.assign(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(*length));
          op.hex_.assign(reply.begin() + static_cast<std::ptrdiff_t>(*length), reply.end());
          // Chunk and record numbers would wrap: never write such an image.
          if (op.header_.size() > KSFirmwareHeaderMaxLength || op.hex_.size() > KSFirmwareBodyMaxLength) {
            op.downloadError_ = op.errorWithDescription("Firmware image too large");
            return op.stopWritingKeepAliveStatus();
          }
          op.reportStatus("Downloading Settings");
          op.requestFutureSettings(version);
        });
      },
      [self](const Error& error) {
        self->onQueue([error](KSBeaconFirmwareUpdateOperation& base) {
          auto& op = static_cast<KSBeaconFirmwareEncryptedUpdateOperation&>(base);
          op.downloadError_ = error;
          op.stopWritingKeepAliveStatus();
        });
      },
      client_);
}

void KSBeaconFirmwareEncryptedUpdateOperation::writeFirmwareSequence() {
  reportStatus("Write FW Header");
  std::shared_ptr<KSPeripheralCommand> header;
  if (!header_.empty()) header = controlWrite(numberedChunks(0x1F, header_), 18);
  auto prepare = controlWrite(Bytes{0x1B}, 20, notify_);
  auto stream = KSStreamDataCommand::create(peripheral(), scheduler(), queue(), currentService(), gravy_,
                                            records(hex_), kMinDelayMilliseconds, kMaxDelayMilliseconds, notify_);
  stream->setChunkSize(kRecordSize);
  // An empty header has nothing to write: Prepare OTA follows at once.
  if (!header) reportStatus("Prepare OTA");
  runWriteSequence(header, prepare, stream);
}

void KSBeaconFirmwareEncryptedUpdateOperation::afterReboot() {
  reportStatus("Waiting For Status");
  // Only what the beacon advertises after its reboot counts.
  beacon()->removeAllAdData();
  startStatusPoll();
}

}  // namespace velmora::kestrine
