#include "platform/core/Log.h"

#include <atomic>
#include <cstdio>
#include <memory>

namespace velmora::platform {
namespace {

struct SinkHolder {
  std::mutex mutex;
  std::shared_ptr<const Log::Sink> sink;
};

SinkHolder& holder() {
  static SinkHolder& h = *new SinkHolder();
  return h;
}

std::atomic<std::size_t> gProgrammingErrors{0};

void writeToStderr(LogLevel level, std::string_view category, std::string_view message) {
  const std::string line = fmt::format("[{}] {}: {}\n", Log::levelName(level), category, message);
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void Log::write(LogLevel level, std::string_view category, std::string_view message) {
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard lock(holder().mutex);
    sink = holder().sink;
  }
  // The sink runs outside the lock so it may log or swap sinks itself.
  if (sink && *sink) {
    (*sink)(level, category, message);
  } else {
    writeToStderr(level, category, message);
  }
}

Log::Sink Log::setSink(Sink sink) {
  std::lock_guard lock(holder().mutex);
  Sink old = holder().sink ? *holder().sink : Sink{};
  holder().sink = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  return old;
}

std::string_view Log::levelName(LogLevel level) {
  switch (level) {
    case LogLevel::Debug: return "debug";
    case LogLevel::Info: return "info";
    case LogLevel::Warning: return "warning";
    case LogLevel::Error: return "error";
  }
  return "?";
}

void reportProgrammingError(std::string_view message) {
  ++gProgrammingErrors;
  Log::write(LogLevel::Error, "programming-error", message);
}

std::size_t programmingErrorCount() { return gProgrammingErrors.load(); }

bool precondition(bool holds, std::string_view condition) {
  if (!holds) reportProgrammingError(fmt::format("Invalid parameter not satisfying: {}", condition));
  return holds;
}

LogCapture::LogCapture(bool forward) : state_(std::make_shared<State>()) {
  state_->forward = forward;
  std::lock_guard lock(state_->mutex);  // a line arriving meanwhile waits for `previous`
  state_->previous = Log::setSink([state = state_](LogLevel level, std::string_view category, std::string_view message) {
    Log::Sink previous;
    {
      std::lock_guard lock(state->mutex);
      state->lines.push_back(Line{level, std::string(category), std::string(message)});
      if (state->forward) previous = state->previous;
    }
    if (!state->forward) return;
    if (previous) {
      previous(level, category, message);
    } else {
      writeToStderr(level, category, message);
    }
  });
}

LogCapture::~LogCapture() {
  Log::Sink previous;
  {
    std::lock_guard lock(state_->mutex);
    previous = state_->previous;
  }
  Log::setSink(std::move(previous));
}

std::vector<LogCapture::Line> LogCapture::lines() const {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

std::size_t LogCapture::count(std::string_view text) const {
  std::lock_guard lock(state_->mutex);
  std::size_t n = 0;
  for (const auto& l : state_->lines) n += l.message.find(text) != std::string::npos ? 1 : 0;
  return n;
}

}  // namespace velmora::platform
