#include "platform/sim/SimTrace.h"

#include <openssl/evp.h>

#include <charconv>
#include <fmt/format.h>

namespace velmora::platform::sim {
namespace {

using bluetooth::BluetoothUUID;
using bluetooth::CentralState;

// Namespace of the name-based peripheral identifiers made from trace tokens.
constexpr Uuid::Bytes kTokenNamespace = {0x6B, 0x1D, 0x3C, 0x52, 0x8A, 0x0E, 0x4F, 0x77,
                                         0x9C, 0x21, 0x5D, 0xB4, 0x13, 0xE8, 0x60, 0xA9};

struct Fail {
  std::string field;
  std::string message;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Bytes> parseHex(std::string_view text, std::string* why) {
  if (text.size() % 2 != 0) {
    *why = fmt::format("odd number of hex digits ({})", text.size());
    return std::nullopt;
  }
  Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) {
      *why = fmt::format("'{}' is not a hex digit", hi < 0 ? text[i] : text[i + 1]);
      return std::nullopt;
    }
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

// Digits with at most six decimals, to microseconds, without going through a double.
std::optional<std::int64_t> parseTime(std::string_view text, std::string* why) {
  const auto dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view frac = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  auto digitsOnly = [](std::string_view s) {
    for (char c : s) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  if (whole.empty() || !digitsOnly(whole) || (dot != std::string_view::npos && (frac.empty() || !digitsOnly(frac)))) {
    *why = fmt::format("'{}' is not a time in seconds", text);
    return std::nullopt;
  }
  if (frac.size() > 6) {
    *why = fmt::format("'{}' has more than six decimals", text);
    return std::nullopt;
  }
  if (whole.size() > 12) {
    *why = fmt::format("'{}' is too large", text);
    return std::nullopt;
  }
  std::int64_t micros = 0;
  for (char c : whole) micros = micros * 10 + (c - '0');
  std::int64_t fraction = 0;
  for (std::size_t i = 0; i < 6; ++i) fraction = fraction * 10 + (i < frac.size() ? frac[i] - '0' : 0);
  return micros * 1000000 + fraction;
}

std::optional<int> parseDbm(std::string_view text, std::string* why) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data() + (!text.empty() && text[0] == '+' ? 1 : 0), end, value);
  if (text.empty() || ec == std::errc::invalid_argument || ptr != end) {
    *why = fmt::format("'{}' is not a whole number of dBm", text);
    return std::nullopt;
  }
  if (ec == std::errc::result_out_of_range || value < -128 || value > 127) {
    *why = fmt::format("{} is out of range -128..127", text);
    return std::nullopt;
  }
  return value;
}

std::optional<BluetoothUUID> parseServiceUuid(std::string_view text, std::string* why) {
  auto uuid = BluetoothUUID::parse(text);
  if (!uuid) *why = fmt::format("'{}' is not a 16-, 32- or 128-bit UUID", text);
  return uuid;
}

std::optional<TraceEvent> parseLine(std::string_view line, Fail* fail) {
  // Fields, with the name taking the rest of the line and '#' starting a comment.
  std::vector<std::string_view> fields;
  std::optional<std::string_view> name;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') break;
    if (line.substr(i).starts_with("name=")) {
      std::string_view rest = line.substr(i + 5);
      while (!rest.empty() && isBlank(rest.back())) rest.remove_suffix(1);
      name = rest;
      break;
    }
    const std::size_t start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    fields.push_back(line.substr(start, i - start));
  }
  if (fields.empty() && !name) return std::nullopt;  // blank or comment

  auto failWith = [&](std::string field, std::string message) {
    *fail = {std::move(field), std::move(message)};
    return std::nullopt;
  };
  if (fields.empty()) return failWith("time", "missing");
  std::string why;
  TraceEvent event;
  auto at = parseTime(fields[0], &why);
  if (!at) return failWith("time", why);
  event.atMicros = *at;
  if (fields.size() < 2) return failWith("event", "missing (adv or power)");

  if (fields[1] == "power") {
    if (name) return failWith("name", "not allowed on a power line");
    if (fields.size() < 3) return failWith("power", "missing state");
    if (fields.size() > 3) return failWith("power", fmt::format("unexpected '{}'", fields[3]));
    static constexpr std::pair<std::string_view, CentralState> kStates[] = {
        {"on", CentralState::PoweredOn},           {"off", CentralState::PoweredOff},
        {"unauthorized", CentralState::Unauthorized}, {"unsupported", CentralState::Unsupported},
        {"resetting", CentralState::Resetting},
    };
    for (const auto& [word, state] : kStates) {
      if (fields[2] == word) {
        event.kind = TraceEvent::Kind::Power;
        event.power = state;
        return event;
      }
    }
    return failWith("power", fmt::format("'{}' is not on, off, unauthorized, unsupported or resetting", fields[2]));
  }
  if (fields[1] != "adv") return failWith("event", fmt::format("'{}' is not adv or power", fields[1]));

  event.kind = TraceEvent::Kind::Advertisement;
  if (fields.size() < 3) return failWith("peripheral", "missing");
  if (auto uuid = Uuid::parse(fields[2])) {
    event.peripheral = *uuid;
  } else {
    event.peripheral = SimTrace::identifierForToken(fields[2]);
  }
  if (fields.size() < 4) return failWith("rssi", "missing");
  auto rssi = parseDbm(fields[3], &why);
  if (!rssi) return failWith("rssi", why);
  event.rssi = *rssi;

  auto& ad = event.advertisement;
  bool sawUuids = false;
  for (std::size_t f = 4; f < fields.size(); ++f) {
    const std::string_view field = fields[f];
    const auto eq = field.find('=');
    const std::string_view key = field.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? std::string_view() : field.substr(eq + 1);
    if (eq == std::string_view::npos) return failWith(std::string(field), "expected key=value");
    if (key == "mfr") {
      if (ad.manufacturerData) return failWith("mfr", "given twice");
      auto bytes = parseHex(value, &why);
      if (!bytes) return failWith("mfr", why);
      if (bytes->size() < 2) return failWith("mfr", "needs the two company bytes");
      ad.manufacturerData = std::move(*bytes);
    } else if (key == "svc") {
      const auto colon = value.find(':');
      if (colon == std::string_view::npos) return failWith("svc", "expected UUID:HEX");
      auto uuid = parseServiceUuid(value.substr(0, colon), &why);
      if (!uuid) return failWith("svc", why);
      if (ad.serviceDataFor(*uuid)) return failWith("svc", fmt::format("{} given twice", uuid->string()));
      auto bytes = parseHex(value.substr(colon + 1), &why);
      if (!bytes) return failWith("svc", why);
      ad.serviceData.emplace_back(*uuid, std::move(*bytes));
    } else if (key == "uuids") {
      if (sawUuids) return failWith("uuids", "given twice");
      sawUuids = true;
      std::string_view rest = value;
      for (;;) {
        const auto comma = rest.find(',');
        auto uuid = parseServiceUuid(rest.substr(0, comma), &why);
        if (!uuid) return failWith("uuids", why);
        ad.serviceUUIDs.push_back(*uuid);
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
      }
    } else if (key == "tx") {
      if (ad.txPowerLevel) return failWith("tx", "given twice");
      auto tx = parseDbm(value, &why);
      if (!tx) return failWith("tx", why);
      ad.txPowerLevel = *tx;
    } else {
      return failWith(std::string(key), "unknown field");
    }
  }
  if (name) ad.localName = std::string(*name);
  if (!ad.manufacturerData && ad.serviceData.empty() && ad.serviceUUIDs.empty() && !ad.localName) {
    return failWith("payload", "an advertisement needs mfr, svc, uuids or name");
  }
  ad.connectable = true;
  return event;
}

}  // namespace

std::string TraceError::describe() const { return fmt::format("line {}, {}: {}", line, field, message); }

Uuid SimTrace::identifierForToken(std::string_view token) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
  EVP_DigestUpdate(ctx, kTokenNamespace.data(), kTokenNamespace.size());
  EVP_DigestUpdate(ctx, token.data(), token.size());
  EVP_DigestFinal_ex(ctx, digest, &size);
  EVP_MD_CTX_free(ctx);
  Uuid::Bytes bytes{};
  std::copy(digest, digest + 16, bytes.begin());
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x50);  // version 5: name-based, SHA-1
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return Uuid(bytes);
}

std::optional<SimTrace> SimTrace::parse(std::string_view text, TraceError* error) {
  SimTrace trace;
  int lineNumber = 0;
  std::int64_t last = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const auto nl = text.find('\n', pos);
    const std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    ++lineNumber;
    Fail fail;
    auto event = parseLine(line, &fail);
    if (!event && !fail.field.empty()) {
      if (error) *error = {lineNumber, std::move(fail.field), std::move(fail.message)};
      return std::nullopt;
    }
    if (event) {
      if (event->atMicros < last) {
        if (error) *error = {lineNumber, "time", "goes back before the line above"};
        return std::nullopt;
      }
      last = event->atMicros;
      event->line = lineNumber;
      trace.events_.push_back(std::move(*event));
    }
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return trace;
}

}  // namespace velmora::platform::sim
