#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Value.h"

namespace velmora::platform {

// The app's user defaults: a dictionary of small values kept in one binary property-list
// file.
//
// Values change in memory at once; synchronize() writes the whole dictionary to a temporary
// file beside the real one, flushes it to disk and renames it over the real one, so a crash
// leaves either the old file or the new one, never a mixture. The file is read once, when
// the defaults are opened: a corrupt, empty or cut file opens empty (logged), and
// temporary files a crash left behind are removed.
//
// What can be stored is what BinaryPropertyList keeps; setObject refuses the rest. Typed
// reads answer nullopt for a missing key and for a value of another kind. Thread-safe.
class UserDefaults {
 public:
  // Opens the defaults kept in `file` (which need not exist yet).
  static std::shared_ptr<UserDefaults> open(std::filesystem::path file);

  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;
  // Writes changes not yet synchronised.
  ~UserDefaults();

  const std::filesystem::path& path() const { return path_; }

  Value objectForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<bool> boolForKey(std::string_view key) const;
  // An integer (a stored UInt that fits included); a double does not count.
  std::optional<std::int64_t> integerForKey(std::string_view key) const;
  // Any number, an integer converted to the nearest double.
  std::optional<double> doubleForKey(std::string_view key) const;
  std::optional<Date> dateForKey(std::string_view key) const;
  std::optional<Bytes> dataForKey(std::string_view key) const;
  std::optional<Array> arrayForKey(std::string_view key) const;
  std::optional<Dict> dictionaryForKey(std::string_view key) const;
  Dict dictionaryRepresentation() const;

  // Sets the value under key; an Absent value removes the key. A value the file cannot
  // keep is refused: logged, nothing changes, and the answer is false.
  bool setObject(std::string_view key, Value value);
  void removeObjectForKey(std::string_view key);

  // Writes the dictionary when it changed since the last write. False (logged) when the
  // file could not be written; the changes stay in memory for the next try.
  bool synchronize();

 private:
  explicit UserDefaults(std::filesystem::path file);
  void load();
  bool writeFile(const std::string& bytes);

  const std::filesystem::path path_;
  std::mutex writeMutex_;  // one file write at a time, in the order the snapshots were taken
  mutable std::mutex mutex_;
  Dict values_;
  std::uint64_t changes_ = 0;  // bumped by every change
  std::uint64_t written_ = 0;  // the change count the file holds
};

}  // namespace velmora::platform
