#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bluetooth/AdvertisementData.h"
#include "platform/bluetooth/Central.h"
#include "platform/core/Uuid.h"

namespace velmora::platform::sim {

// A recorded (or written) stretch of radio traffic, played by SimRadio.
//
// Text form, one event per line; blank lines are skipped, and a `#` at the start of a
// field begins a comment that runs to the end of the line:
//
//   <t> adv <peripheral> <rssi> [mfr=HEX] [svc=UUID:HEX]... [uuids=UUID,...] [tx=DBM] [name=rest of line]
//   <t> power on|off|unauthorized|unsupported|resetting
//
// <t>          seconds since play(), digits with at most six decimals ("12", "0.100"),
//              read exactly to the microsecond; never less than the line before.
// <peripheral> a UUID (8-4-4-4-12), or any other token (a Bluetooth address, a nickname),
//              which stands for a stable UUID made from the token's text.
// <rssi>       dBm, -128 to 127 (127: not measured).
// mfr=HEX      manufacturer data as transmitted, company bytes first (at least two bytes).
// svc=UUID:HEX service data under a 16-, 32- or 128-bit UUID; repeatable
//              ("svc=FEAA:00EE..." is an Eddystone frame).
// uuids=       the advertised service UUIDs, comma-separated.
// tx=DBM       the advertised transmit power, -128 to 127.
// name=        the local name: everything after "name=" up to the end of the line
//              (trailing blanks dropped), so it comes last.
// An advertisement carries at least one of mfr, svc, uuids or name. Fields may come in
// any order, each at most once except svc. Hex digits are of either case.
//
// Example:
//   0.000 adv AA:BB:CC:DD:EE:01 -61 mfr=4C000215E2C56DB5DFFB48D2B060D0F5A71096E00001000AC5
//   0.100 adv AA:BB:CC:DD:EE:02 -74 svc=FEAA:00EEEDD1EBEAC04E5DEFA0170BDB87539B670000
//   5.000 power off
//
// A line that breaks a rule rejects the whole trace; the error names the line and field.
struct TraceEvent {
  enum class Kind { Advertisement, Power };

  Kind kind = Kind::Advertisement;
  std::int64_t atMicros = 0;  // since play()
  int line = 0;
  // Advertisement
  Uuid peripheral;
  int rssi = 0;
  bluetooth::AdvertisementData advertisement;
  // Power
  bluetooth::CentralState power = bluetooth::CentralState::PoweredOn;
};

struct TraceError {
  int line = 0;
  std::string field;  // "time", "event", "peripheral", "rssi", "mfr", "svc", "uuids", "tx", "name", "power"
  std::string message;
  // "line 3, rssi: 300 is out of range -128..127"
  std::string describe() const;
};

class SimTrace {
 public:
  SimTrace() = default;
  static std::optional<SimTrace> parse(std::string_view text, TraceError* error = nullptr);

  const std::vector<TraceEvent>& events() const { return events_; }

  // The stable UUID a non-UUID peripheral token stands for (name-based, from SHA-1).
  static Uuid identifierForToken(std::string_view token);

 private:
  std::vector<TraceEvent> events_;
};

}  // namespace velmora::platform::sim
