#include "beacons/http/KSMultipartBodyStream.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "beacons/http/KSHTTPRequestSerializer.h"

namespace velmora::kestrine {

namespace {
constexpr std::string_view kCRLF = "\r\n";
}

KSHTTPBodyPart::KSHTTPBodyPart(Headers headers, std::string boundary, Body body, std::uint64_t bodyContentLength)
    : headers_(std::move(headers)),
      boundary_(std::move(boundary)),
      body_(std::move(body)),
      bodyContentLength_(bodyContentLength) {}

KSHTTPBodyPart::~KSHTTPBodyPart() {
  if (inputStream_) inputStream_->close();
}

std::string KSHTTPBodyPart::phaseBytes(Phase phase) const {
  switch (phase) {
    case Phase::Boundary:
      return hasInitialBoundary ? fmt::format("--{}{}", boundary_, kCRLF)
                                : fmt::format("{}--{}{}", kCRLF, boundary_, kCRLF);
    case Phase::Headers: {
      std::string out;
      for (const auto& [field, value] : headers_) out += fmt::format("{}: {}{}", field, value, kCRLF);
      out += kCRLF;
      return out;
    }
    case Phase::FinalBoundary:
      return hasFinalBoundary ? fmt::format("{}--{}--{}", kCRLF, boundary_, kCRLF) : std::string();
    default:
      return std::string();
  }
}

std::uint64_t KSHTTPBodyPart::contentLength() const {
  return phaseBytes(Phase::Boundary).size() + phaseBytes(Phase::Headers).size() + bodyContentLength_ +
         phaseBytes(Phase::FinalBoundary).size();
}

KSInputStream& KSHTTPBodyPart::inputStream() {
  if (!inputStream_) {
    if (const auto* bytes = std::get_if<std::string>(&body_)) {
      inputStream_ = KSInputStream::withData(*bytes);
    } else if (const auto* path = std::get_if<std::filesystem::path>(&body_)) {
      inputStream_ = KSInputStream::withFile(*path);
    } else if (const auto* stream = std::get_if<std::shared_ptr<KSInputStream>>(&body_); stream && *stream) {
      inputStream_ = *stream;
    } else {
      inputStream_ = KSInputStream::withData("");
    }
  }
  return *inputStream_;
}

bool KSHTTPBodyPart::hasBytesAvailable() const { return phase_ != Phase::Done && !error_; }

void KSHTTPBodyPart::transition() {
  switch (phase_) {
    case Phase::Boundary:
      phase_ = Phase::Headers;
      break;
    case Phase::Headers:
      phase_ = Phase::Body;
      inputStream().open();
      break;
    case Phase::Body:
      inputStream().close();
      phase_ = Phase::FinalBoundary;
      break;
    default:
      phase_ = Phase::Done;
      break;
  }
  phaseReadOffset_ = 0;
  currentBytes_ = phaseBytes(phase_);
}

std::int64_t KSHTTPBodyPart::read(std::uint8_t* buffer, std::size_t maxLength) {
  if (error_) return -1;
  if (phase_ == Phase::Boundary && phaseReadOffset_ == 0) currentBytes_ = phaseBytes(phase_);
  std::size_t total = 0;
  while (total < maxLength && phase_ != Phase::Done) {
    if (phase_ != Phase::Body) {
      const std::size_t n = std::min(maxLength - total, currentBytes_.size() - phaseReadOffset_);
      std::memcpy(buffer + total, currentBytes_.data() + phaseReadOffset_, n);
      phaseReadOffset_ += n;
      total += n;
      if (phaseReadOffset_ == currentBytes_.size()) transition();
      continue;
    }
    const std::uint64_t left = bodyContentLength_ - bodyBytesRead_;
    if (left == 0) {
      transition();
      continue;
    }
    KSInputStream& stream = inputStream();
    const std::int64_t n = stream.read(buffer + total, static_cast<std::size_t>(std::min<std::uint64_t>(maxLength - total, left)));
    if (n == KSInputStream::kPaused) break;  // a nested stream that waits: hand back what we have
    if (n < 0 || n == 0) {
      if (n < 0) {
        error_ = stream.streamError().value_or(
            platform::Error(std::string(KSStreamErrorDomain), EIO, "A part's body could not be read."));
      } else {
        error_ = platform::Error(std::string(KSURLRequestSerializationErrorDomain), KSRequestSerializationErrorCode,
                                 fmt::format("A part's body ended after {} of its {} bytes.", bodyBytesRead_,
                                             bodyContentLength_));
      }
      stream.close();
      // Hand back what this call read; the next read reports the failure.
      return total > 0 ? static_cast<std::int64_t>(total) : -1;
    }
    bodyBytesRead_ += static_cast<std::uint64_t>(n);
    total += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(total);
}

std::unique_ptr<KSHTTPBodyPart> KSHTTPBodyPart::copy() const {
  auto part = std::make_unique<KSHTTPBodyPart>(headers_, boundary_, body_, bodyContentLength_);
  part->hasInitialBoundary = hasInitialBoundary;
  part->hasFinalBoundary = hasFinalBoundary;
  return part;
}

// --- stream ---------------------------------------------------------------------------------

KSMultipartBodyStream::KSMultipartBodyStream(std::uint64_t stringEncoding, std::shared_ptr<platform::Clock> clock)
    : stringEncoding_(stringEncoding), clock_(std::move(clock)) {}

void KSMultipartBodyStream::setClock(std::shared_ptr<platform::Clock> clock) {
  std::lock_guard lock(mutex_);
  if (clock) clock_ = std::move(clock);
}

std::uint64_t KSMultipartBodyStream::numberOfBytesInPacket() const {
  std::lock_guard lock(mutex_);
  return numberOfBytesInPacket_;
}

double KSMultipartBodyStream::delay() const {
  std::lock_guard lock(mutex_);
  return delay_;
}

void KSMultipartBodyStream::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) {
  std::lock_guard lock(mutex_);
  numberOfBytesInPacket_ = numberOfBytes;
  delay_ = delay;
}

void KSMultipartBodyStream::appendHTTPBodyPart(std::unique_ptr<KSHTTPBodyPart> part) {
  std::lock_guard lock(mutex_);
  HTTPBodyParts_.push_back(std::move(part));
}

void KSMultipartBodyStream::setBoundariesLocked() {
  for (std::size_t i = 0; i < HTTPBodyParts_.size(); ++i) {
    HTTPBodyParts_[i]->hasInitialBoundary = i == 0;
    HTTPBodyParts_[i]->hasFinalBoundary = i + 1 == HTTPBodyParts_.size();
  }
}

void KSMultipartBodyStream::setInitialAndFinalBoundaries() {
  std::lock_guard lock(mutex_);
  setBoundariesLocked();
}

std::uint64_t KSMultipartBodyStream::contentLength() const {
  std::lock_guard lock(mutex_);
  std::uint64_t length = 0;
  for (const auto& part : HTTPBodyParts_) length += part->contentLength();
  return length;
}

bool KSMultipartBodyStream::empty() const {
  std::lock_guard lock(mutex_);
  return HTTPBodyParts_.empty();
}

std::size_t KSMultipartBodyStream::partCount() const {
  std::lock_guard lock(mutex_);
  return HTTPBodyParts_.size();
}

void KSMultipartBodyStream::open() {
  std::lock_guard lock(mutex_);
  if (status_ == Status::Open) return;
  status_ = Status::Open;
  setBoundariesLocked();
  currentPart_ = 0;
}

void KSMultipartBodyStream::close() {
  std::lock_guard lock(mutex_);
  status_ = Status::Closed;
}

std::int64_t KSMultipartBodyStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  std::lock_guard lock(mutex_);
  if (status_ == Status::Error) return -1;
  if (status_ != Status::Open) return 0;
  if (delay_ > 0 && clock_->uptime() < resumeAt_) return kPaused;

  const std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(maxLength, numberOfBytesInPacket_));
  std::size_t total = 0;
  while (total < limit && currentPart_ < HTTPBodyParts_.size()) {
    KSHTTPBodyPart& part = *HTTPBodyParts_[currentPart_];
    const bool failed = part.streamError().has_value();
    if (!part.hasBytesAvailable() && !failed) {
      ++currentPart_;
      continue;
    }
    const std::int64_t n = failed ? -1 : part.read(buffer + total, limit - total);
    if (n < 0) {
      error_ = part.streamError();
      status_ = Status::Error;
      // Hand back what was read; the next read reports the failure.
      return total > 0 ? static_cast<std::int64_t>(total) : -1;
    }
    total += static_cast<std::size_t>(n);
    if (delay_ > 0) {
      // Pause instead of sleeping the reading thread: the next read waits for the delay.
      resumeAt_ = clock_->uptime() + std::chrono::microseconds(static_cast<std::int64_t>(delay_ * 1e6));
      break;
    }
    if (n == 0) {
      if (part.hasBytesAvailable()) break;  // a part whose own body stream waits
      ++currentPart_;
    }
  }
  return static_cast<std::int64_t>(total);
}

bool KSMultipartBodyStream::hasBytesAvailable() const {
  std::lock_guard lock(mutex_);
  return status_ == Status::Open;
}

KSInputStream::Status KSMultipartBodyStream::streamStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::optional<platform::Error> KSMultipartBodyStream::streamError() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::chrono::microseconds KSMultipartBodyStream::resumeDelay() const {
  std::lock_guard lock(mutex_);
  if (delay_ <= 0) return std::chrono::microseconds(0);
  const auto now = clock_->uptime();
  return now < resumeAt_ ? resumeAt_ - now : std::chrono::microseconds(0);
}

std::shared_ptr<KSMultipartBodyStream> KSMultipartBodyStream::copy() const {
  std::lock_guard lock(mutex_);
  auto out = std::make_shared<KSMultipartBodyStream>(stringEncoding_, clock_);
  out->numberOfBytesInPacket_ = numberOfBytesInPacket_;
  out->delay_ = delay_;
  for (const auto& part : HTTPBodyParts_) out->HTTPBodyParts_.push_back(part->copy());
  out->setBoundariesLocked();
  return out;
}

}  // namespace velmora::kestrine
