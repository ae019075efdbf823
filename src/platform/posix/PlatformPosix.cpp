// POSIX implementation of the platform seam (see Platform.h for the mapping).
#include "platform/Platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

namespace sp::platform {

namespace detail {

std::optional<std::string> RealSystemDirectory() { return std::string("/"); }

LocalTime RealLocalNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const time_t seconds = now.tv_sec;
  LocalTime result;
  struct tm calendar;
  if (localtime_r(&seconds, &calendar) != nullptr) {
    result.month = calendar.tm_mon + 1;
    result.day = calendar.tm_mday;
    result.hour = calendar.tm_hour;
    result.minute = calendar.tm_min;
    result.second = calendar.tm_sec;
  }
  result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return result;
}

}  // namespace detail

std::string DriveRootOf(const std::string& normalizedSystemDirectory) {
  return normalizedSystemDirectory;
}

bool FindEntry(const std::string& pattern) {
  struct stat info;
  if (!pattern.empty() && pattern.back() == '*') {
    // "folder/*" finds an entry exactly when the folder exists (it holds at
    // least "." on Windows).
    const std::string folder = pattern.substr(0, pattern.size() - 1);
    return stat(folder.empty() ? "." : folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
  return !pattern.empty() && stat(pattern.c_str(), &info) == 0;
}

CreateDirResult CreateOneDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return CreateDirResult::Created;
  return errno == EEXIST ? CreateDirResult::AlreadyExists : CreateDirResult::Failed;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

AppendFile::AppendFile(const std::string& path) noexcept
    : fd_(open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666)), path_(path) {}

AppendFile::~AppendFile() {
  if (fd_ >= 0) close(fd_);
}

bool AppendFile::IsOpen() const noexcept { return fd_ >= 0; }

std::size_t AppendFile::Append(const char* data, std::size_t size) noexcept {
  // One write, never a second for the rest: a second write could land after
  // another process's record and split this one. Only a write interrupted
  // before it wrote anything is tried again.
  for (;;) {
    const ssize_t written = write(fd_, data, size);
    if (written >= 0) return static_cast<std::size_t>(written);
    if (errno != EINTR) return 0;
  }
}

std::int64_t AppendFile::Size() noexcept {
  struct stat info;
  return fstat(fd_, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

bool AppendFile::EndsWith(const char* data, std::size_t size) noexcept {
  const std::int64_t end = Size();
  if (end < static_cast<std::int64_t>(size)) return false;
  char tail[4096];
  std::size_t checked = 0;
  while (checked < size) {
    const std::size_t piece = std::min(sizeof tail, size - checked);
    const off_t at = static_cast<off_t>(end - static_cast<std::int64_t>(size - checked));
    if (pread(fd_, tail, piece, at) != static_cast<ssize_t>(piece)) return false;
    if (std::memcmp(tail, data + checked, piece) != 0) return false;
    checked += piece;
  }
  return true;
}

bool AppendFile::TruncateTo(std::int64_t size) noexcept {
  return ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool AppendFile::IsAt(const std::string& path) noexcept {
  struct stat named;
  struct stat open;
  return stat(path.c_str(), &named) == 0 && fstat(fd_, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

void SleepMilliseconds(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace sp::platform

namespace sp::platform {

bool AppendFile::RenameIfStillAt(const std::string& to) noexcept {
  if (flock(fd_, LOCK_EX) != 0) return false;
  const bool renamed = IsAt(path_) && std::rename(path_.c_str(), to.c_str()) == 0;
  flock(fd_, LOCK_UN);
  return renamed;
}

}  // namespace sp::platform
