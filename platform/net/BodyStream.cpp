#include "platform/net/BodyStream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace velmora::platform::net {

namespace {

class FileBodyStream final : public BodyStream {
 public:
  explicit FileBodyStream(std::filesystem::path path) : path_(std::move(path)) {}
  ~FileBodyStream() override { close(); }

  void open() override {
    if (file_ || error_) return;
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) error_ = Error("platform.posix", errno, std::strerror(errno));
  }
  void close() override {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (!file_) {
      if (!error_) error_ = Error("platform.posix", EBADF, "the file is not open");
      return -1;
    }
    const std::size_t n = std::fread(buffer, 1, maxLength, file_);
    if (n == 0 && std::ferror(file_)) {
      error_ = Error("platform.posix", EIO, "the file could not be read");
      return -1;
    }
    return static_cast<std::int64_t>(n);
  }
  std::optional<Error> streamError() const override { return error_; }
  std::shared_ptr<BodyStream> copy() const override { return std::make_shared<FileBodyStream>(path_); }

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::optional<Error> error_;
};

}  // namespace

std::shared_ptr<BodyStream> BodyStream::withFile(std::filesystem::path path) {
  return std::make_shared<FileBodyStream>(std::move(path));
}

}  // namespace velmora::platform::net
