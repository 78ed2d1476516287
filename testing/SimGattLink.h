#pragma once

#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/dispatch/Scheduler.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimRadio.h"

namespace velmora::testing {

// A central on a simulated radio, connected to one peripheral that serves the given GATT
// table. Everything runs on the scheduler given (the VirtualScheduler in most tests); the
// central's events arrive on `queue`.
struct SimGattLink {
  std::shared_ptr<platform::dispatch::Scheduler> scheduler;
  std::shared_ptr<platform::sim::SimRadio> radio;
  std::shared_ptr<platform::sim::SimGattServer> server;
  std::shared_ptr<platform::dispatch::Queue> queue;
  std::shared_ptr<platform::bluetooth::CentralDelegate> centralDelegate;
  std::shared_ptr<platform::bluetooth::Central> central;
  std::shared_ptr<platform::bluetooth::Peripheral> peripheral;

  // Starts the connection; it is made once the scheduler has run (advance the virtual clock
  // by more than the connect latency, 50 ms by default).
  static SimGattLink make(std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                          std::vector<platform::sim::SimGattServer::Service> services,
                          platform::sim::SimGattServer::Latencies latencies = platform::sim::SimGattServer::Latencies()) {
    struct Quiet final : platform::bluetooth::CentralDelegate {
      void centralDidUpdateState(platform::bluetooth::CentralState) override {}
      void centralDidDiscoverPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                        const platform::bluetooth::AdvertisementData&, int) override {}
    };
    SimGattLink link;
    link.scheduler = scheduler;
    link.radio = platform::sim::SimRadio::create(scheduler);
    link.server = platform::sim::SimGattServer::create(link.radio->timeline(), std::move(services), latencies);
    link.queue = scheduler->makeSerialQueue("central");
    link.centralDelegate = std::make_shared<Quiet>();
    link.central = link.radio->makeCentral(link.centralDelegate, link.queue);
    const platform::Uuid id = platform::Uuid::random();
    link.radio->setGattServer(id, link.server);
    auto found = link.central->retrievePeripherals({id});
    if (found.size() != 1) throw std::logic_error("SimGattLink: the peripheral is unknown to the central");
    link.peripheral = found.front();
    link.central->connect(link.peripheral);
    return link;
  }
};

}  // namespace velmora::testing
