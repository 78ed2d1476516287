#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::platform {

// A 128-bit UUID. Its one text form is canonical UPPER-case 8-4-4-4-12
// ("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0"): beacon identities are compared as text, so
// every UUID string the SDK produces goes through string().
class Uuid {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  constexpr Uuid() = default;  // the nil UUID
  explicit constexpr Uuid(const Bytes& bytes) : bytes_(bytes) {}

  // A random (version 4) UUID from the system's cryptographic random source.
  static Uuid random();
  // Reads the 8-4-4-4-12 form in either case; anything else is nullopt.
  static std::optional<Uuid> parse(std::string_view text);
  // Canonical upper-case form of a UUID text, or nullopt when it is not one.
  static std::optional<std::string> canonical(std::string_view text);

  const Bytes& bytes() const { return bytes_; }
  std::string string() const;
  bool isNil() const;

  friend constexpr bool operator==(const Uuid&, const Uuid&) = default;
  friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;

 private:
  Bytes bytes_{};
};

}  // namespace velmora::platform
