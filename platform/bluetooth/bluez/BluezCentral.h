#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/bluetooth/Central.h"

namespace velmora::platform::bluetooth::bluez {

// Where a BlueZ central finds the Bluetooth service and which adapter it uses.
struct BluezOptions {
  // A D-Bus address ("unix:path=/run/dbus/system_bus_socket"); nullopt: the system bus.
  std::optional<std::string> busAddress;
  // An adapter by name ("hci1"); nullopt: the first one the service lists.
  std::optional<std::string> adapter;
  // The longest a request to the service may stay unanswered before it counts as failed.
  std::chrono::milliseconds callTimeout{10'000};
};

// Makes centrals on the host's Bluetooth service (BlueZ, over D-Bus). Each central has
// its own bus connection, served by a thread of its own that ends when the central is
// released; what a central tells its delegate arrives on the queue given to the maker.
//
// - State: PoweredOn / PoweredOff follow the adapter's Powered property, live; no adapter
//   (or no service on the bus, or no bus) is Unsupported, a bus that refuses this user is
//   Unauthorized. The first state is posted once the service has answered.
// - Scanning asks the adapter for low-energy discovery with duplicate reports and the
//   service UUIDs of the filter; every advertisement (a device appearing, or a change of
//   its signal strength or advertised content) that passes the filter is reported, without
//   allowDuplicates only the first of each device per scan. Unlike a phone, iBeacon frames
//   are reported as they are.
// - A device's identifier is derived from the adapter's and the device's addresses, so one
//   device keeps one identifier across centrals and runs.
// - Connections are not offered yet: connect() fails with gatt::kConnectionFailed.
CentralMaker bluezCentralMaker(BluezOptions options = {});

// True when the bus (the system bus by default) is reachable and the Bluetooth service is
// on it, or the bus starts it on demand. Blocks for at most the options' call timeout.
bool bluezServiceAvailable(const BluezOptions& options = {});

}  // namespace velmora::platform::bluetooth::bluez
