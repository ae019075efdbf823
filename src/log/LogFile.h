// The runtime log and the error log: one object that knows both paths and
// appends records to them. A record is an empty line, a bracketed local
// timestamp and three "label:[value]" lines, with CR LF line ends.
#pragma once

#include <string>

namespace sp {

// Backslashes become "/", and one "/" is appended unless the string is empty
// or already ends in "/". Changes the string in place and returns it.
std::string& NormalizeDirPath(std::string& path);

// Formats the 17-character timestamp "MM-DD hh:mm:ss.cc" (hundredths).
std::string FormatLogTimestamp(int month, int day, int hour, int minute, int second,
                               int millisecond);

// A log grows past this size by at most one record before it is moved to
// its own name with ".bak" appended.
constexpr long kLogRotationBytes = 20971520;

class LogFile {
 public:
  LogFile();

  void SetRuntimeLogPath(const std::string& path);
  void SetErrorLogPath(const std::string& path);
  // Takes both paths over at once by swapping them with the caller's
  // strings (which get the old paths), so that it cannot fail half-way.
  void SwapLogPaths(std::string& runtimePath, std::string& errorPath) noexcept {
    runtimeLogPath_.swap(runtimePath);
    errorLogPath_.swap(errorPath);
  }
  const std::string& RuntimeLogPath() const { return runtimeLogPath_; }
  const std::string& ErrorLogPath() const { return errorLogPath_; }

  // The writers never fail the caller: a record that cannot be built (no
  // memory) or written (no file) is dropped silently. Strings the caller
  // builds for the call are the caller's to guard.
  void WriteTrace(const std::string& label1, const std::string& value1,
                  const std::string& label2, const std::string& value2,
                  const std::string& label3, const std::string& value3) const noexcept;
  void WriteError(const std::string& sourcePath, int line, int code,
                  const std::string& text) const noexcept;
  void WriteErrorWithContext(const std::string& sourcePath, int line, int code,
                             const std::string& message,
                             const std::string& context) const noexcept;
  // Appends one record to the file at path with one system write, then
  // rotates the file when the file system reports it grown past the
  // threshold.
  static void WriteRecord(const std::string& path, const std::string& label1,
                          const std::string& value1, const std::string& label2,
                          const std::string& value2, const std::string& label3,
                          const std::string& value3) noexcept;

 private:
  std::string runtimeLogPath_;
  std::string errorLogPath_;
};

namespace testing {
// Lowers the rotation threshold so the test suite can rotate small files;
// 0 or less restores kLogRotationBytes.
void SetLogRotationBytes(long bytes);
}  // namespace testing

}  // namespace sp
