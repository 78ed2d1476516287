#pragma once

#include <fmt/format.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

enum class LogLevel { Debug = 0, Info = 1, Warning = 2, Error = 3 };

// The platform log. Lines go to one process-wide sink (standard error by default); a test
// installs its own sink, or a LogCapture, to read what was written.
class Log {
 public:
  using Sink = std::function<void(LogLevel level, std::string_view category, std::string_view message)>;

  static void write(LogLevel level, std::string_view category, std::string_view message);

  template <class... Args>
  static void debug(std::string_view category, fmt::format_string<Args...> f, Args&&... args) {
    write(LogLevel::Debug, category, fmt::format(f, std::forward<Args>(args)...));
  }
  template <class... Args>
  static void info(std::string_view category, fmt::format_string<Args...> f, Args&&... args) {
    write(LogLevel::Info, category, fmt::format(f, std::forward<Args>(args)...));
  }
  template <class... Args>
  static void warning(std::string_view category, fmt::format_string<Args...> f, Args&&... args) {
    write(LogLevel::Warning, category, fmt::format(f, std::forward<Args>(args)...));
  }
  template <class... Args>
  static void error(std::string_view category, fmt::format_string<Args...> f, Args&&... args) {
    write(LogLevel::Error, category, fmt::format(f, std::forward<Args>(args)...));
  }

  // Replaces the sink; an empty sink restores the default (standard error). Returns the old one.
  static Sink setSink(Sink sink);
  static std::string_view levelName(LogLevel level);
};

// A programming error the SDK detected and survived (a violated precondition, a sync onto
// the current serial queue). Written to the log under category "programming-error" at
// Error level, and counted, so tests can see that it happened. Never aborts.
void reportProgrammingError(std::string_view message);
std::size_t programmingErrorCount();

// Checks a parameter precondition. When it does not hold, reports
// "Invalid parameter not satisfying: <condition>" as a programming error and returns false.
bool precondition(bool holds, std::string_view condition);

// Collects every log line written while it lives (and still forwards them to the previous
// sink only when asked). Captures nest: the innermost one receives the lines.
class LogCapture {
 public:
  struct Line {
    LogLevel level;
    std::string category;
    std::string message;
  };

  explicit LogCapture(bool forward = false);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> lines() const;
  // Lines whose message contains the text.
  std::size_t count(std::string_view text) const;

 private:
  // Shared with the installed sink, so a line written on another thread while the capture
  // is being destroyed never touches freed memory.
  struct State {
    std::mutex mutex;
    std::vector<Line> lines;
    Log::Sink previous;
    bool forward = false;
  };
  std::shared_ptr<State> state_;
};

}  // namespace velmora::platform
