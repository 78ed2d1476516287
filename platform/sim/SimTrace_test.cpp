#include "platform/sim/SimTrace.h"

#include <gtest/gtest.h>

namespace velmora::platform::sim {
namespace {

using bluetooth::BluetoothUUID;
using bluetooth::CentralState;

TEST(SimTraceTest, ReadsEveryFieldExactly) {
  const char* text =
      "# a comment line\n"
      "\n"
      "0.000 adv AA:BB:CC:DD:EE:01 -61 mfr=4C000215E2C56DB5DFFB48D2B060D0F5A71096E00001000AC5\n"
      "0.100 adv AA:BB:CC:DD:EE:02 -74 svc=FEAA:00EEEDD1EBEAC04E5DEFA0170BDB87539B670000   # trailing\n"
      "1.000001 adv 6B1D3C52-8A0E-4F77-9C21-5DB413E860A9 127 uuids=FEC4,0000FEAA-0000-1000-8000-00805F9B34FB "
      "svc=fec4:01 tx=-12 name=Gate 3 # not a comment  \r\n"
      "2 power off\n"
      "2 power on\n"
      "86400.5 power unauthorized";
  TraceError error;
  auto trace = SimTrace::parse(text, &error);
  ASSERT_TRUE(trace) << error.describe();
  const auto& e = trace->events();
  ASSERT_EQ(e.size(), 6u);

  EXPECT_EQ(e[0].atMicros, 0);
  EXPECT_EQ(e[0].line, 3);
  EXPECT_EQ(e[0].rssi, -61);
  EXPECT_EQ(e[0].peripheral, SimTrace::identifierForToken("AA:BB:CC:DD:EE:01"));
  ASSERT_TRUE(e[0].advertisement.manufacturerData);
  EXPECT_EQ(e[0].advertisement.manufacturerData->size(), 25u);
  EXPECT_EQ((*e[0].advertisement.manufacturerData)[0], 0x4C);  // company bytes first, as sent

  EXPECT_EQ(e[1].atMicros, 100000);
  ASSERT_EQ(e[1].advertisement.serviceData.size(), 1u);
  EXPECT_EQ(e[1].advertisement.serviceData[0].first, *BluetoothUUID::parse("FEAA"));
  EXPECT_EQ(e[1].advertisement.serviceData[0].second.size(), 20u);

  EXPECT_EQ(e[2].atMicros, 1000001);
  EXPECT_EQ(e[2].peripheral.string(), "6B1D3C52-8A0E-4F77-9C21-5DB413E860A9");
  EXPECT_EQ(e[2].rssi, 127);
  EXPECT_EQ(e[2].advertisement.serviceUUIDs,
            (std::vector<BluetoothUUID>{*BluetoothUUID::parse("FEC4"), *BluetoothUUID::parse("FEAA")}));
  EXPECT_EQ(e[2].advertisement.txPowerLevel, -12);
  EXPECT_EQ(e[2].advertisement.localName, "Gate 3 # not a comment");

  EXPECT_EQ(e[3].kind, TraceEvent::Kind::Power);
  EXPECT_EQ(e[3].power, CentralState::PoweredOff);
  EXPECT_EQ(e[4].power, CentralState::PoweredOn);
  EXPECT_EQ(e[5].atMicros, 86400500000);
  EXPECT_EQ(e[5].power, CentralState::Unauthorized);
}

TEST(SimTraceTest, TokensMapToStableDistinctIdentifiers) {
  const auto a = SimTrace::identifierForToken("AA:BB:CC:DD:EE:01");
  EXPECT_EQ(a, SimTrace::identifierForToken("AA:BB:CC:DD:EE:01"));
  EXPECT_NE(a, SimTrace::identifierForToken("AA:BB:CC:DD:EE:02"));
  EXPECT_EQ(a.bytes()[6] >> 4, 5);  // a name-based UUID
}

TEST(SimTraceTest, ABadLineRejectsTheTraceNamingLineAndField) {
  struct Case {
    const char* what;
    const char* badLine;
    const char* field;
    const char* message;  // a part of it
  };
  const Case cases[] = {
      {"odd hex", "1.0 adv p1 -60 mfr=4C000", "mfr", "odd number of hex digits"},
      {"non-hex", "1.0 adv p1 -60 mfr=4C0G", "mfr", "not a hex digit"},
      {"company bytes missing", "1.0 adv p1 -60 mfr=4C", "mfr", "company"},
      {"rssi 300", "1.0 adv p1 300 name=x", "rssi", "out of range"},
      {"rssi not a number", "1.0 adv p1 -6x0 name=x", "rssi", "not a whole number"},
      {"rssi missing", "1.0 adv p1", "rssi", "missing"},
      {"time going back", "0.5 adv p1 -60 name=x", "time", "goes back"},
      {"seven decimals", "1.0000001 adv p1 -60 name=x", "time", "six decimals"},
      {"negative time", "-1 adv p1 -60 name=x", "time", "not a time"},
      {"exponent", "1e3 adv p1 -60 name=x", "time", "not a time"},
      {"bare dot", "1. adv p1 -60 name=x", "time", "not a time"},
      {"no payload", "1.0 adv p1 -60", "payload", "needs mfr, svc, uuids or name"},
      {"tx alone is no payload", "1.0 adv p1 -60 tx=-4", "payload", "needs"},
      {"bad service uuid", "1.0 adv p1 -60 svc=FEA:00", "svc", "not a 16-, 32- or 128-bit UUID"},
      {"service data without colon", "1.0 adv p1 -60 svc=FEAA", "svc", "UUID:HEX"},
      {"service twice", "1.0 adv p1 -60 svc=FEAA:00 svc=0000FEAA-0000-1000-8000-00805F9B34FB:01", "svc", "twice"},
      {"bad uuid list", "1.0 adv p1 -60 uuids=FEC4,", "uuids", "not a 16-"},
      {"tx out of range", "1.0 adv p1 -60 tx=-200 name=x", "tx", "out of range"},
      {"unknown field", "1.0 adv p1 -60 foo=1", "foo", "unknown field"},
      {"field without value", "1.0 adv p1 -60 mfr", "mfr", "key=value"},
      {"unknown event", "1.0 scan p1", "event", "not adv or power"},
      {"power word", "1.0 power dim", "power", "not on, off"},
      {"power extra", "1.0 power on now", "power", "unexpected"},
      {"event missing", "1.0", "event", "missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = std::string("# header\n1.0 adv p0 -50 name=ok\n") + c.badLine + "\n2.0 power off\n";
    TraceError error;
    EXPECT_FALSE(SimTrace::parse(text, &error));
    EXPECT_EQ(error.line, 3);
    EXPECT_EQ(error.field, c.field);
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
    EXPECT_EQ(error.describe().rfind("line 3, ", 0), 0u) << error.describe();
  }
}

}  // namespace
}  // namespace velmora::platform::sim
