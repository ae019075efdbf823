// Windows implementation of the platform seam.
#include "platform/Platform.h"

#include <io.h>
#include <windows.h>

#include <vector>

namespace sp::platform {

namespace detail {

std::optional<std::string> RealSystemDirectory() {
  std::vector<char> buffer(MAX_PATH);
  const UINT length = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  return std::string(buffer.data(), length);
}

LocalTime RealLocalNow() {
  // One reading of the system clock, turned into local calendar time.
  FILETIME utc;
  GetSystemTimeAsFileTime(&utc);
  FILETIME local;
  SYSTEMTIME calendar;
  LocalTime result;
  if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &calendar)) {
    result.month = calendar.wMonth;
    result.day = calendar.wDay;
    result.hour = calendar.wHour;
    result.minute = calendar.wMinute;
    result.second = calendar.wSecond;
    result.millisecond = calendar.wMilliseconds;
  }
  return result;
}

}  // namespace detail

std::string DriveRootOf(const std::string& normalizedSystemDirectory) {
  return normalizedSystemDirectory.substr(0, 3);
}

bool FindEntry(const std::string& pattern) {
  WIN32_FIND_DATAA entry;
  HANDLE handle = FindFirstFileA(pattern.c_str(), &entry);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  return true;
}

CreateDirResult CreateOneDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return CreateDirResult::Created;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateDirResult::AlreadyExists
                                                : CreateDirResult::Failed;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool TruncateFile(std::FILE* file, long size) { return _chsize(_fileno(file), size) == 0; }

void SleepMilliseconds(std::uint32_t ms) { Sleep(ms); }

}  // namespace sp::platform
