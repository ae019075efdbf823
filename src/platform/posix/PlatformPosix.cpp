// POSIX implementation of the platform seam (see Platform.h for the mapping).
#include "platform/Platform.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
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

bool TruncateFile(std::FILE* file, long size) {
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

void SleepMilliseconds(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace sp::platform
