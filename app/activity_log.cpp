#include "app/activity_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <system_error>

namespace corvid {

namespace {

void createFolder(const std::filesystem::path& file) {
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
}

}  // namespace

FileActivityLog::FileActivityLog(std::filesystem::path file, const Clock& clock)
    : path_(std::move(file)), clock_(clock) {
  tzset();
  createFolder(path_);
}

std::string FileActivityLog::timeStamp(Time t) {
  std::time_t secs = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
  std::tm local{};
  if (!localtime_r(&secs, &local)) return "00-00 00:00:00";
  char text[32];
  std::size_t n = std::strftime(text, sizeof text, "%m-%d %H:%M:%S", &local);
  return std::string(text, n);
}

void FileActivityLog::log(std::string_view message) {
  try {
    std::string line = timeStamp(clock_.now());
    line.reserve(line.size() + 2 + message.size());
    line += ' ';
    line += message;
    line += '\n';

    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path_, ec);
    if (!ec && size > kMaxBytes) std::filesystem::remove(path_, ec);

    if (!append(line) && errno == ENOENT) {
      // The folder went away while the process ran: make it again.
      createFolder(path_);
      append(line);
    }
  } catch (...) {
    // Logging never fails towards the caller (not even on low memory).
  }
}

bool FileActivityLog::append(const std::string& line) {
  int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ::close(fd);
  return true;
}

}  // namespace corvid
