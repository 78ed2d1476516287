#pragma once

// Shared by the GATT command tests: a connected simulated beacon and helpers to run a
// command to its end in virtual time.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/core/BytesDescription.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/SimGattLink.h"

namespace velmora::kestrine::testsupport {

using platform::Bytes;
using platform::bluetooth::BluetoothUUID;
using platform::sim::SimGattServer;

inline SimGattServer::Characteristic characteristic(std::string_view uuid, std::uint32_t properties, Bytes value = {}) {
  return {gattUUID(uuid), properties, std::move(value)};
}

// The maker's service with Control, Indicator, Gravy and the lower-case Minor.
inline SimGattServer::Service makerService(std::string_view serviceUUID = KSServiceUUIDStringKestrineLong) {
  using namespace velmora::platform::bluetooth;
  return {gattUUID(serviceUUID),
          {characteristic(KSCharacteristicUUIDStringControl, kPropertyWrite | kPropertyWriteWithoutResponse),
           characteristic(KSCharacteristicUUIDStringIndicator, kPropertyNotify),
           characteristic(KSCharacteristicUUIDStringGravy, kPropertyWriteWithoutResponse),
           characteristic(KSCharacteristicUUIDStringMinor, kPropertyRead | kPropertyWrite, {0x00, 0x07})}};
}

// What a command reported.
struct Outcome {
  int calls = 0;
  std::optional<platform::Error> error;
  std::int64_t atMicros = -1;
};

struct GattFixture : ::testing::Test {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<platform::dispatch::Queue> commandQueue = scheduler->makeSerialQueue("com.kestrine.configuration");
  std::optional<velmora::testing::SimGattLink> link;

  void connect(std::vector<SimGattServer::Service> services,
               SimGattServer::Latencies latencies = SimGattServer::Latencies()) {
    link = velmora::testing::SimGattLink::make(scheduler, std::move(services), latencies);
    scheduler->advanceBy(0.1);
    ASSERT_EQ(link->peripheral->state(), platform::bluetooth::PeripheralState::Connected);
  }
  std::int64_t nowMicros() const { return scheduler->manualClock()->uptime().count(); }

  // Runs the command and records its report.
  void start(const std::shared_ptr<KSPeripheralCommand>& command, Outcome& outcome) {
    command->setCompletionBlock([this, &outcome](const auto&, const std::optional<platform::Error>& error) {
      ++outcome.calls;
      outcome.error = error;
      outcome.atMicros = nowMicros();
    });
    command->execute();
  }
  Outcome run(const std::shared_ptr<KSPeripheralCommand>& command, double seconds = 5) {
    Outcome outcome;
    start(command, outcome);
    scheduler->advanceBy(seconds);
    return outcome;
  }

  // The maker's service with its characteristics discovered, as an operation has it.
  std::shared_ptr<platform::bluetooth::GattService> discoveredMaker() {
    link->peripheral->discoverServices(std::nullopt);
    scheduler->advanceBy(0.1);
    auto service = link->peripheral->services()->front();
    link->peripheral->discoverCharacteristics(std::nullopt, service);
    scheduler->advanceBy(0.1);
    return service;
  }
  std::shared_ptr<platform::bluetooth::GattCharacteristic> find(const std::shared_ptr<platform::bluetooth::GattService>& s,
                                                               std::string_view uuid) {
    return KSPeripheralCommand::retrieveCharacteristic(gattUUID(uuid), s);
  }

  // The trace as lines "<ms> <kind><? answer> <uuid> <bytes>" for one characteristic.
  std::vector<std::string> traceOf(std::string_view uuid, std::int64_t sinceMicros = 0) const {
    std::vector<std::string> out;
    for (const auto& t : link->server->trace()) {
      if (t.uuid != gattUUID(uuid) || t.micros < sinceMicros) continue;
      static const char* names[] = {"services", "characteristics", "read", "write", "write-nr", "switch", "notify"};
      std::string line = std::to_string((t.micros - sinceMicros) / 1000) + " " + names[static_cast<int>(t.kind)] +
                         (t.answer ? "!" : "");
      if (!t.bytes.empty()) line += " " + platform::describeBytes(t.bytes);
      if (t.errorCode) line += " error " + std::to_string(*t.errorCode);
      out.push_back(line);
    }
    return out;
  }
};

}  // namespace velmora::kestrine::testsupport
