#include "beacons/configuration/KSBeaconLoginCommand.h"

#include <algorithm>

#include "beacons/bluetooth/SecureDescrambling.h"
#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSServiceDiscoveryCommands.h"
#include "platform/crypto/Aes.h"
#include "platform/crypto/Base64.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

namespace {

constexpr std::size_t kLegacyWaterLength = 4;
constexpr std::size_t kPasscodeWaterLength = 8;
constexpr std::size_t kMinHeadedLength = 5;
constexpr std::size_t kMaxHeadedLength = 18;
constexpr std::size_t kPasscodeLength = 16;

}  // namespace

std::shared_ptr<KSBeaconLoginCommand> KSBeaconLoginCommand::create(
    std::shared_ptr<KSBeacon> beacon, std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
    std::shared_ptr<platform::dispatch::Queue> queue, std::optional<Bytes> passcode) {
  return std::shared_ptr<KSBeaconLoginCommand>(
      new KSBeaconLoginCommand(std::move(beacon), std::move(peripheral), std::move(queue), std::move(passcode)));
}

KSBeaconLoginCommand::KSBeaconLoginCommand(std::shared_ptr<KSBeacon> beacon,
                                           std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                           std::shared_ptr<platform::dispatch::Queue> queue,
                                           std::optional<Bytes> passcode)
    : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
      beacon_(std::move(beacon)),
      passcode_(std::move(passcode)),
      random_(platform::crypto::RandomSource::system()) {}

Error KSBeaconLoginCommand::errorWithDescription(std::string_view description) {
  return Error(std::string(kErrorDomain), -1, std::string(description));
}

Error KSBeaconLoginCommand::errorWithDescription(std::string_view description, std::int64_t code) {
  return Error(std::string(kClassErrorDomain), code, std::string(description));
}

Bytes KSBeaconLoginCommand::scramblerMilk(const Bytes& value, platform::crypto::RandomSource& random) {
  const std::uint16_t low = value.size() > 1 ? value[1] : 0;
  const std::uint16_t high = value.size() > 2 ? value[2] : 0;
  const std::uint16_t milk = turn_water_into_milk(static_cast<std::uint16_t>(low | (high << 8)));
  const Bytes first = random.bytes(1);
  const Bytes last = random.bytes(1);
  return {first[0], static_cast<std::uint8_t>(milk & 0xFF), static_cast<std::uint8_t>(milk >> 8), last[0]};
}

std::optional<Bytes> KSBeaconLoginCommand::passcodeMilk(const Bytes& value, const Bytes& passcode) {
  if (passcode.size() != kPasscodeLength) return std::nullopt;
  Bytes block(platform::crypto::kAesBlockSize, 0);
  std::copy_n(value.begin(), std::min<std::size_t>(value.size(), 8), block.begin());
  auto encrypted = platform::crypto::aes128EcbEncrypt(passcode, block);
  if (!encrypted) return std::nullopt;
  encrypted->resize(8);
  return encrypted;
}

std::shared_ptr<KSBeaconConfigurationCloud> KSBeaconLoginCommand::cloud() {
  if (!cloud_) cloud_ = KSBeaconConfigurationCloud::shared();
  return cloud_;
}

void KSBeaconLoginCommand::runStep(
    std::shared_ptr<KSPeripheralCommand> command,
    std::function<void(KSBeaconLoginCommand&, const std::shared_ptr<KSPeripheralCommand>&, const OptionalError&)>
        next) {
  current_ = command;
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  command->setCompletionBlock([weak, next = std::move(next)](const std::shared_ptr<KSPeripheralCommand>& done,
                                                               const OptionalError& error) {
    auto self = std::static_pointer_cast<KSBeaconLoginCommand>(weak.lock());
    if (!self || self->canceled() || self->state() == kStateFinished) return;
    next(*self, done, error);
  });
  command->execute();
}

void KSBeaconLoginCommand::didCancel() {
  if (current_) current_->cancel();
}

void KSBeaconLoginCommand::run() {
  if (!checkPreconditions(true)) return;
  beginExecuting();
  std::vector<platform::bluetooth::BluetoothUUID> uuids = {gattUUID(KSCharacteristicUUIDStringIndicator),
                                                           gattUUID(KSCharacteristicUUIDStringWater),
                                                           gattUUID(KSCharacteristicUUIDStringMilk)};
  uuids.insert(uuids.end(), characteristicsToDiscover_.begin(), characteristicsToDiscover_.end());
  runStep(KSDiscoverKestrineServiceCommand::create(peripheral(), queue(), std::move(uuids)),
          [](KSBeaconLoginCommand& self, const std::shared_ptr<KSPeripheralCommand>& done, const OptionalError& error) {
            if (error) return self.finishWithError(*error);
            self.discovered(done);
          });
}

void KSBeaconLoginCommand::discovered(const std::shared_ptr<KSPeripheralCommand>& command) {
  auto discovery = std::static_pointer_cast<KSDiscoverKestrineServiceCommand>(command);
  discovered_ = discovery->discoveredCharacteristics().value_or(KSCharacteristicMap{});
  kestrineService_ = discovery->kestrineService();
  indicate_ = characteristicFor(discovered_, KSCharacteristicUUIDStringIndicator);
  milk_ = characteristicFor(discovered_, KSCharacteristicUUIDStringMilk);
  water_ = characteristicFor(discovered_, KSCharacteristicUUIDStringWater);
  if (!water_ || !milk_) {
    return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Requires Indicate, Water and Milk Characteristics"));
  }
  if (indicate_ && !passcode_) {
    runStep(KSReadCharacteristicDataCommand::create(peripheral(), queue(), kestrineService_, indicate_),
            [](KSBeaconLoginCommand& self, const std::shared_ptr<KSPeripheralCommand>& done, const OptionalError& error) {
              if (error) return self.finishWithError(*error);
              auto read = std::static_pointer_cast<KSReadCharacteristicDataCommand>(done);
              self.readWater(read->characteristicData().value_or(Bytes{}));
            });
    return;
  }
  readWater(std::nullopt);
}

void KSBeaconLoginCommand::readWater(std::optional<Bytes> status) {
  runStep(KSReadCharacteristicDataCommand::create(peripheral(), queue(), kestrineService_, water_),
          [status = std::move(status)](KSBeaconLoginCommand& self, const std::shared_ptr<KSPeripheralCommand>& done,
                                       const OptionalError& error) {
            if (error) return self.finishWithError(*error);
            auto read = std::static_pointer_cast<KSReadCharacteristicDataCommand>(done);
            self.handleWater(read->characteristicData().value_or(Bytes{}), status);
          });
}

KSBeaconLoginCommand::WaterPlan KSBeaconLoginCommand::planForWater(const Bytes& water) {
  using Answer = WaterPlan::Answer;
  const std::size_t n = water.size();
  if (n == kLegacyWaterLength) return {Answer::LegacyScrambler, water, false, {}};
  if (n == kPasscodeWaterLength) return {Answer::Passcode, water, false, {}};
  if (n < kMinHeadedLength || n > kMaxHeadedLength) return {Answer::Scrambler, Bytes(4, 0), true, {}};
  if (water[1] != n - 2) return {Answer::Invalid, {}, false, "Water length does not match length in header"};
  Bytes payload(water.begin() + 2, water.end());
  switch (water[0]) {
    case 0: return {Answer::Scrambler, water, true, {}};
    case 1:
    case 4: return {Answer::Scrambler, std::move(payload), true, {}};
    case 2: return {Answer::Passcode, std::move(payload), false, {}};
    case 3: return {Answer::Cloud, std::move(payload), false, {}};
    default: return {Answer::Invalid, {}, false, "Security type not recognized or not valid"};
  }
}

std::optional<Bytes> KSBeaconLoginCommand::milkForWater(const Bytes& water, const std::optional<Bytes>& passcode,
                                                        platform::crypto::RandomSource& random) {
  using Answer = WaterPlan::Answer;
  const WaterPlan plan = planForWater(water);
  switch (plan.answer) {
    case Answer::LegacyScrambler:
    case Answer::Scrambler: return scramblerMilk(plan.input, random);
    case Answer::Passcode: return passcode ? passcodeMilk(plan.input, *passcode) : std::nullopt;
    case Answer::Cloud:
    case Answer::Invalid: return std::nullopt;
  }
  return std::nullopt;
}

void KSBeaconLoginCommand::handleWater(const Bytes& water, const std::optional<Bytes>& status) {
  using Answer = WaterPlan::Answer;
  const WaterPlan plan = planForWater(water);
  if (plan.postsStatus) postStatusToApi(status);
  switch (plan.answer) {
    case Answer::LegacyScrambler: return writeMilkForWaterData(plan.input, true);
    case Answer::Scrambler: return writeMilkForWaterData(plan.input, false);
    case Answer::Passcode: return writeMilkForPasscodeWaterData(plan.input);
    case Answer::Cloud:
      if (status) return writeMilkForWaterData(plan.input, *status);
      return finishWithError(errorWithDescription("Security type not recognized or not valid"));
    case Answer::Invalid: return finishWithError(errorWithDescription(plan.error));
  }
}

void KSBeaconLoginCommand::writeMilkForWaterData(const Bytes& value, bool legacy) {
  writeMilk(scramblerMilk(value, *random_), !legacy);
}

void KSBeaconLoginCommand::writeMilkForPasscodeWaterData(const Bytes& value) {
  if (!passcode_ || passcode_->size() != kPasscodeLength) {
    return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Passcode Required", KSBeaconLoginRefusedCode));
  }
  auto milk = passcodeMilk(value, *passcode_);
  if (!milk) return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Encryption Failed"));
  writeMilk(std::move(*milk), true);
}

void KSBeaconLoginCommand::writeMilkForWaterData(const Bytes& payload, const Bytes& status) {
  if (!beacon_) return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Beacon Missing"));
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  auto queue = this->queue();
  // The cloud answers on its own queue; the reply is taken on the command's, and dropped
  // once the command has finished or was cancelled.
  auto onQueue = [weak, queue](std::function<void(KSBeaconLoginCommand&)> work) {
    queue->async([weak, work = std::move(work)] {
      auto self = std::static_pointer_cast<KSBeaconLoginCommand>(weak.lock());
      if (!self || self->canceled() || self->state() == kStateFinished) return;
      work(*self);
    });
  };
  cloud()->getMilk(
      *beacon_, payload, status,
      [onQueue](const platform::Value& reply) {
        onQueue([reply](KSBeaconLoginCommand& self) {
          std::optional<Bytes> milk;
          if (const std::string* text = reply["milk"].string()) milk = platform::crypto::base64Decode(*text);
          if (!milk) return self.finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Milk Missing"));
          self.writeMilk(std::move(*milk), true);
        });
      },
      [onQueue](const Error& error) { onQueue([error](KSBeaconLoginCommand& self) { self.finishWithError(error); }); });
}

void KSBeaconLoginCommand::postStatusToApi(const std::optional<Bytes>& status) {
  if (!status || status->empty() || !beacon_) return;
  cloud()->postStatus(beacon_, *status);
}

void KSBeaconLoginCommand::writeMilk(Bytes milk, bool withVerdict) {
  auto write = KSWriteCharacteristicDataCommand::create(peripheral(), queue(), kestrineService_, milk_, std::move(milk),
                                                        withVerdict ? indicate_ : nullptr);
  runStep(write, [withVerdict](KSBeaconLoginCommand& self, const std::shared_ptr<KSPeripheralCommand>&,
                               const OptionalError& error) {
    if (error) return self.finishWithError(*error);
    if (!withVerdict) return self.finish();
    self.handleWriteMilkResponse(self.indicate_ ? self.indicate_->value() : Bytes{});
  });
}

void KSBeaconLoginCommand::handleWriteMilkResponse(const Bytes& value) {
  if (value.size() < 2) return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Unrecognized Response"));
  loginResult_ = static_cast<std::uint16_t>((value[0] << 8) | value[1]);
  switch (loginResult_) {
    case 1:
    case 3:
      return finish();
    case 2:
      return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Failed Login", KSBeaconLoginRefusedCode));
    default:
      return finishWithError(errorWithDescription("KSBeaconAuthLoginCommand Unrecognized Response"));
  }
}

}  // namespace velmora::kestrine
