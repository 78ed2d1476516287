#include "examples/ad_dump/AdDump.h"

#include <istream>
#include <optional>
#include <ostream>
#include <vector>

#include "beacons/bluetooth/AdData.h"
#include "beacons/bluetooth/AdDataJSON.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Uuid.h"

namespace addump {
namespace {

std::string_view trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<std::uint8_t>> fromHex(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

}  // namespace

std::string dumpLine(std::string_view line, std::span<const std::string> uuids) {
  line = trim(line);
  constexpr std::string_view kEddystone = "FEAA:";
  const bool eddystone =
      line.size() >= kEddystone.size() && velmora::platform::equalsIgnoringAsciiCase(line.substr(0, 5), kEddystone);
  if (eddystone) line.remove_prefix(kEddystone.size());
  const auto bytes = fromHex(line);
  if (!bytes) return "null";

  velmora::kestrine::KSAdvertisement advertisement;
  const velmora::kestrine::KSServiceDataEntry serviceData[] = {{"FEAA", *bytes}};
  if (eddystone) {
    advertisement.serviceData = serviceData;
  } else {
    advertisement.manufacturerData = std::span<const std::uint8_t>(*bytes);
  }
  const auto adData = velmora::kestrine::adData::mutableAdDataWithProximityUUIDStrings(advertisement, uuids);
  if (!adData) return "null";
  return velmora::kestrine::adDataJSON::jsonText(*adData);
}

void dump(std::istream& in, std::ostream& out, std::span<const std::string> uuids) {
  std::string line;
  while (std::getline(in, line)) out << dumpLine(line, uuids) << '\n';
  out.flush();
}

std::optional<std::vector<std::string>> parseArgs(std::span<const std::string> args, std::string* error) {
  std::vector<std::string> uuids;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--uuid") {
      *error = "unknown option '" + args[i] + "' (usage: ad_dump [--uuid PROXIMITY-UUID]... < captures)";
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      *error = "option '--uuid' needs a proximity UUID";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (!velmora::platform::Uuid::parse(value)) {
      *error = "--uuid needs a proximity UUID (8-4-4-4-12 hex digits), not '" + value + "'";
      return std::nullopt;
    }
    uuids.push_back(value);
  }
  return uuids;
}

}  // namespace addump
