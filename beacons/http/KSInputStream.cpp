#include "beacons/http/KSInputStream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace velmora::kestrine {
namespace {

class DataStream final : public KSInputStream {
 public:
  explicit DataStream(std::string data) : data_(std::move(data)) {}

  void open() override {
    std::lock_guard lock(mutex_);
    if (status_ == Status::NotOpen) status_ = Status::Open;
  }
  void close() override {
    std::lock_guard lock(mutex_);
    status_ = Status::Closed;
  }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    std::lock_guard lock(mutex_);
    if (status_ != Status::Open) return 0;
    const std::size_t n = std::min(maxLength, data_.size() - offset_);
    std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    if (offset_ == data_.size()) status_ = Status::AtEnd;
    return static_cast<std::int64_t>(n);
  }
  bool hasBytesAvailable() const override {
    std::lock_guard lock(mutex_);
    return status_ == Status::Open || status_ == Status::NotOpen;
  }
  Status streamStatus() const override {
    std::lock_guard lock(mutex_);
    return status_;
  }
  std::optional<platform::Error> streamError() const override { return std::nullopt; }

 private:
  mutable std::mutex mutex_;
  const std::string data_;
  std::size_t offset_ = 0;
  Status status_ = Status::NotOpen;
};

class FileStream final : public KSInputStream {
 public:
  explicit FileStream(std::filesystem::path path) : path_(std::move(path)) {}
  ~FileStream() override {
    if (file_) std::fclose(file_);
  }

  void open() override {
    std::lock_guard lock(mutex_);
    if (status_ != Status::NotOpen) return;
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) {
      fail(errno);
    } else {
      status_ = Status::Open;
    }
  }
  void close() override {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (status_ != Status::Error) status_ = Status::Closed;
  }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    std::lock_guard lock(mutex_);
    if (status_ == Status::Error) return -1;
    if (status_ != Status::Open || !file_) return 0;
    const std::size_t n = std::fread(buffer, 1, maxLength, file_);
    if (n == 0 && std::ferror(file_)) {
      fail(errno ? errno : EIO);
      return -1;
    }
    if (n == 0) status_ = Status::AtEnd;
    return static_cast<std::int64_t>(n);
  }
  bool hasBytesAvailable() const override {
    std::lock_guard lock(mutex_);
    return status_ == Status::Open || status_ == Status::NotOpen;
  }
  Status streamStatus() const override {
    std::lock_guard lock(mutex_);
    return status_;
  }
  std::optional<platform::Error> streamError() const override {
    std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  void fail(int code) {
    status_ = Status::Error;
    error_ = platform::Error(std::string(KSStreamErrorDomain), code,
                             std::string(std::strerror(code)) + ": " + path_.string());
  }

  mutable std::mutex mutex_;
  const std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  Status status_ = Status::NotOpen;
  std::optional<platform::Error> error_;
};

}  // namespace

std::shared_ptr<KSInputStream> KSInputStream::withData(std::string data) {
  return std::make_shared<DataStream>(std::move(data));
}

std::shared_ptr<KSInputStream> KSInputStream::withFile(std::filesystem::path path) {
  return std::make_shared<FileStream>(std::move(path));
}

}  // namespace velmora::kestrine
