// The one seam between the library and the operating system. Nothing outside
// src/platform includes windows.h or POSIX headers; everything the library needs
// from the system is here, with a Windows and a POSIX implementation.
//
// How each service maps on the two systems:
//
//   service                 Windows                          POSIX
//   SystemDirectory         GetSystemDirectoryA (260 bytes)  "/"
//   DriveRootOf             first three characters           the whole folder (so the drive
//                           ("C:/" of "C:/WINDOWS/...")      root of "/" is "/")
//   FindEntry               FindFirstFileA + FindClose       stat(); a pattern ending in "*" tests
//                                                            the folder before it (it must exist and
//                                                            be a folder), otherwise any entry counts
//   CreateOneDirectory      CreateDirectoryA(path, NULL),    mkdir(path, 0777), EEXIST = already
//                           ERROR_ALREADY_EXISTS = already
//   RenameReplacing         MoveFileExA(..., REPLACE)        rename()
//   AppendFile              CreateFileA with FILE_APPEND_    open(O_APPEND); write, fstat,
//                           DATA (every sharing allowed);    pread, ftruncate; flock
//                           WriteFile, GetFileSizeEx,        around the rename
//                           ReadFile at an offset,
//                           SetEndOfFile on a second handle,
//                           LockFileEx around the rename
//   SleepMilliseconds       Sleep                            std::this_thread::sleep_for
//   LocalNow                GetLocalTime-equivalent: clock    clock_gettime(REALTIME) + localtime_r
//                           read as seconds + ms since the
//                           epoch, seconds turned into local
//                           calendar time
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace sp::platform {

// Local calendar time of one clock reading.
struct LocalTime {
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;  // 0..999
};

// The system folder as the system gives it (backslashes on Windows), or
// nothing when it cannot be read.
std::optional<std::string> SystemDirectory();

// The drive root of a system folder whose separators are already "/" and
// which ends in "/".
std::string DriveRootOf(const std::string& normalizedSystemDirectory);

// Whether a search for the pattern (a path, possibly ending in "*") finds an entry.
bool FindEntry(const std::string& pattern);

enum class CreateDirResult { Created, AlreadyExists, Failed };
// Creates one folder whose parent must exist.
CreateDirResult CreateOneDirectory(const std::string& path);

// Renames from to to, replacing an existing to. True on success.
bool RenameReplacing(const std::string& from, const std::string& to);

// A file opened for appending, closed when the object goes. Every write
// goes to the end of the file as one system call, so a record appended by
// one process is never split by a record another process appends to the
// same file at the same time. Other processes may read, write, rename or
// delete the file while it is open.
class AppendFile {
 public:
  // Opens the file at path, creating it when missing; see IsOpen(). The
  // path is kept by reference and must outlive the object.
  explicit AppendFile(const std::string& path) noexcept;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  bool IsOpen() const noexcept;
  // Writes the bytes at the end of the file with one system write; returns
  // how many got out (fewer when the disk is full or a size limit is
  // reached, 0 on an error).
  std::size_t Append(const char* data, std::size_t size) noexcept;
  // The file's size as the file system has it now; -1 when unknown.
  std::int64_t Size() noexcept;
  // Whether the file's last `size` bytes are these.
  bool EndsWith(const char* data, std::size_t size) noexcept;
  // Cuts the file back to `size` bytes. True on success.
  bool TruncateTo(std::int64_t size) noexcept;
  // Renames the file to `to`, replacing it, while the file's own path still
  // names this open file (and not a fresh log created after another process
  // rotated this one away); the check and the rename hold a lock on the
  // file that every process rotating it takes. True when renamed.
  bool RenameIfStillAt(const std::string& to) noexcept;

 private:
  bool IsAt(const std::string& path) noexcept;

#if defined(_WIN32)
  void* handle_;
#else
  int fd_;
#endif
  const std::string& path_;
};

void SleepMilliseconds(std::uint32_t ms);

// Reads the clock once and returns it as local calendar time.
LocalTime LocalNow();

// Hooks for the test suite only; the product never calls them, and nothing
// is configured through the environment.
namespace testing {
// Replaces what SystemDirectory() returns: a value, or failure when the
// optional is empty. ResetSystemDirectory() returns to the real one.
void OverrideSystemDirectory(std::optional<std::string> dir);
void ResetSystemDirectory();
// Replaces the clock; an empty function returns to the real one.
void OverrideClock(std::function<LocalTime()> clock);
}  // namespace testing

// Internal: the real implementations, provided by win/ or posix/.
namespace detail {
std::optional<std::string> RealSystemDirectory();
LocalTime RealLocalNow();
}  // namespace detail

}  // namespace sp::platform
