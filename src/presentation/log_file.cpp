#include "presentation/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr const char* kCsvHeader = "time,kind,class,bytes,message,painted\r\n";

std::string Numbered(const std::string& path, int32_t n) { return path + "." + std::to_string(n); }

}  // namespace

LogFileWriter::LogFileWriter(LogFileOptions options) : options_(std::move(options)) {}

LogFileWriter::~LogFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

std::string LogFileWriter::Open() {
  fd_ = ::open(options_.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) return "cannot open " + options_.path + ": " + std::strerror(errno);
  const off_t end = ::lseek(fd_, 0, SEEK_END);
  size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  if (options_.csv && size_ == 0) return WriteAll(kCsvHeader);
  return {};
}

std::string LogFileWriter::Rotate() {
  ::close(fd_);
  fd_ = -1;
  namespace fs = std::filesystem;
  std::error_code ec;
  const int32_t keep = options_.keepFiles < 0 ? 0 : options_.keepFiles;
  if (keep == 0) {
    fs::remove(options_.path, ec);
  } else {
    fs::remove(Numbered(options_.path, keep), ec);
    for (int32_t n = keep - 1; n >= 1; --n) {
      if (fs::exists(Numbered(options_.path, n), ec))
        fs::rename(Numbered(options_.path, n), Numbered(options_.path, n + 1), ec);
    }
    fs::rename(options_.path, Numbered(options_.path, 1), ec);
    if (ec) return "cannot rotate " + options_.path + ": " + ec.message();
  }
  return Open();
}

std::string LogFileWriter::WriteAll(const std::string& bytes) {
  size_t done = 0;
  // Bounded: each pass writes at least one byte or ends with the error.
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "cannot write " + options_.path + ": " + std::strerror(n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
  size_ += bytes.size();
  return {};
}

std::string LogFileWriter::Append(const std::string& row, const LogRecord& record) {
  if (failed_) return {};
  std::string bytes;
  if (options_.csv) {
    const std::string one = LogRecordsToCsv({&record});
    bytes = one.substr(std::strlen(kCsvHeader));
  } else {
    bytes = row;
  }
  std::string reason;
  if (fd_ < 0) reason = Open();
  // A file already holding something is rotated before it would outgrow the limit.
  const uint64_t header = options_.csv ? std::strlen(kCsvHeader) : 0;
  if (reason.empty() && size_ > header && size_ + bytes.size() > options_.maxBytes) reason = Rotate();
  if (reason.empty()) reason = WriteAll(bytes);
  if (reason.empty()) {
    ++entries_;
    return {};
  }
  failed_ = true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  return reason;
}
