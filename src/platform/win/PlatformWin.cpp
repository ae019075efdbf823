// Windows implementation of the platform seam.
#include "platform/Platform.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
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

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// The file's lock: one byte far beyond any log's end, so that it never
// stands in the way of a read or write; it only orders the processes that
// append to the file or rotate it.
OVERLAPPED farByte() {
  OVERLAPPED byte = {};
  byte.Offset = 0xFFFFFFF0;
  byte.OffsetHigh = 0x7FFFFFFF;
  return byte;
}

bool LockFarByte(HANDLE file) {
  OVERLAPPED byte = farByte();
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &byte) != 0;
}

void UnlockFarByte(HANDLE file) {
  OVERLAPPED byte = farByte();
  UnlockFileEx(file, 0, 1, 0, &byte);
}

}  // namespace

// Appending access without plain write access: the system then puts every
// write at the end of the file at the moment of writing, also against other
// processes. Every sharing mode is granted, so that another process can
// rotate (rename) the file while this one holds it.
AppendFile::AppendFile(const std::string& path) noexcept
    : handle_(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)),
      path_(path) {}

AppendFile::~AppendFile() {
  if (IsOpen()) CloseHandle(handle_);
}

bool AppendFile::IsOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }

// Every process that appends to a log takes the file's lock around the
// write: appending access alone keeps records whole on Windows itself, but
// not under every implementation of its interface (Wine writes at an end it
// read before). Under the lock the end read is the end written at.
std::size_t AppendFile::Append(const char* data, std::size_t size) noexcept {
  const bool locked = LockFarByte(handle_);
  OVERLAPPED atEnd = {};
  LARGE_INTEGER end;
  if (GetFileSizeEx(handle_, &end)) {
    atEnd.Offset = static_cast<DWORD>(end.QuadPart & 0xFFFFFFFF);
    atEnd.OffsetHigh = static_cast<DWORD>(end.QuadPart >> 32);
  } else {
    atEnd.Offset = 0xFFFFFFFF;  // the end of the file, wherever it is
    atEnd.OffsetHigh = 0xFFFFFFFF;
  }
  // One WriteFile for the whole record; what it reports as written counts
  // also when it failed part-way.
  DWORD written = 0;
  WriteFile(handle_, data, static_cast<DWORD>(size), &written, &atEnd);
  if (locked) UnlockFarByte(handle_);
  return written;
}

std::int64_t AppendFile::Size() noexcept {
  LARGE_INTEGER size;
  return GetFileSizeEx(handle_, &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

// The appending handle has no other data access (with any, writes would
// no longer go to the end by themselves): a second handle, checked to name
// the same file, reads the end back.
bool AppendFile::EndsWith(const char* data, std::size_t size) noexcept {
  HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reader == INVALID_HANDLE_VALUE) return false;
  const std::int64_t end = Size();
  bool same = sameFile(reader, handle_) && end >= static_cast<std::int64_t>(size);
  char tail[4096];
  std::size_t checked = 0;
  while (same && checked < size) {
    const std::size_t piece = std::min(sizeof tail, size - checked);
    const std::int64_t at = end - static_cast<std::int64_t>(size - checked);
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFF);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    same = ReadFile(reader, tail, static_cast<DWORD>(piece), &read, &position) && read == piece &&
           std::memcmp(tail, data + checked, piece) == 0;
    checked += piece;
  }
  CloseHandle(reader);
  return same;
}

// The appending handle may not move the end of the file back: a second
// handle with write access does, after checking that it names the same file.
bool AppendFile::TruncateTo(std::int64_t size) noexcept {
  HANDLE writer = CreateFileA(path_.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writer == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER position;
  position.QuadPart = size;
  const bool cut = sameFile(writer, handle_) &&
                   SetFilePointerEx(writer, position, nullptr, FILE_BEGIN) && SetEndOfFile(writer);
  CloseHandle(writer);
  return cut;
}

bool AppendFile::RenameIfStillAt(const std::string& to) noexcept {
  if (!LockFarByte(handle_)) return false;
  const bool renamed = IsAt(path_) && RenameReplacing(path_, to);
  UnlockFarByte(handle_);
  return renamed;
}

bool AppendFile::IsAt(const std::string& path) noexcept {
  HANDLE named = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  const bool same = sameFile(named, handle_);
  CloseHandle(named);
  return same;
}

void SleepMilliseconds(std::uint32_t ms) { Sleep(ms); }

}  // namespace sp::platform
