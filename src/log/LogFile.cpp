#include "log/LogFile.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "config/Constants.h"
#include "platform/Platform.h"

namespace sp {
namespace {

// One lock for every record of the process: the open, write, close and
// rename of a record happen as one step, so records of concurrent threads
// never interleave and a rotation never loses one. The record and the
// rotation name are built in buffers kept under that lock, so writing a
// record allocates nothing once they have grown to the longest record.
struct RecordWriter {
  std::mutex mutex;
  std::string record;
  std::string rotatedPath;
};

// Never destroyed, so that records written while the process's static
// objects are being destroyed still find it.
RecordWriter& recordWriter() {
  static RecordWriter* writer = new RecordWriter;
  return *writer;
}

std::atomic<long> rotationBytes{kLogRotationBytes};

// Appends text with every line feed written as CR LF, so both builds produce
// the bytes that a text-mode stream on Windows would.
void appendWithCrLf(std::string& out, const std::string& text) {
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
}

void appendPair(std::string& out, const std::string& label, const std::string& value) {
  appendWithCrLf(out, label);
  out += ":[";
  appendWithCrLf(out, value);
  out += "]\r\n";
}

std::string sourceFileName(const std::string& sourcePath) {
  std::string path = sourcePath;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isTwoDigits(int value) { return value >= 0 && value <= 99; }

void appendTwoDigits(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + value / 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

// Appends "MM-DD hh:mm:ss.cc". Every record formats one, so the usual case
// (every field of two digits) is written digit by digit; anything else goes
// through snprintf, which gives the same text for the usual case.
void appendTimestamp(std::string& out, int month, int day, int hour, int minute, int second,
                     int millisecond) {
  const int hundredths = millisecond / 10;
  if (isTwoDigits(month) && isTwoDigits(day) && isTwoDigits(hour) && isTwoDigits(minute) &&
      isTwoDigits(second) && isTwoDigits(hundredths)) {
    appendTwoDigits(out, month);
    out.push_back('-');
    appendTwoDigits(out, day);
    out.push_back(' ');
    appendTwoDigits(out, hour);
    out.push_back(':');
    appendTwoDigits(out, minute);
    out.push_back(':');
    appendTwoDigits(out, second);
    out.push_back('.');
    appendTwoDigits(out, hundredths);
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%02d-%02d %02d:%02d:%02d.%02u", month, day, hour, minute,
                second, static_cast<unsigned>(hundredths));
  out += text;
}

std::string defaultRoot() {
  std::optional<std::string> systemDirectory = platform::SystemDirectory();
  if (!systemDirectory) return "c:/";
  return platform::DriveRootOf(NormalizeDirPath(*systemDirectory));
}

void buildRecord(std::string& record, const std::string& label1, const std::string& value1,
                 const std::string& label2, const std::string& value2,
                 const std::string& label3, const std::string& value3) {
  const platform::LocalTime now = platform::LocalNow();
  record.clear();
  record += "\r\n[";
  appendTimestamp(record, now.month, now.day, now.hour, now.minute, now.second,
                  now.millisecond);
  record += "]\r\n";
  appendPair(record, label1, value1);
  appendPair(record, label2, value2);
  appendPair(record, label3, value3);
}

// Appends the record with one system write, so that records of other
// processes sharing the log never split it, then rotates the file when the
// size the file system reports has passed the threshold. Allocates nothing.
void appendRecord(const std::string& path, const std::string& record,
                  const std::string& rotatedPath) noexcept {
  platform::AppendFile file(path);
  if (!file.IsOpen()) return;
  const std::size_t written = file.Append(record.data(), record.size());
  if (written != record.size()) {
    // The disk is full or a file-size limit was reached: the part that got
    // out is taken back, so the log holds whole records only; but only while
    // it is still the end of the file, never a record appended after it.
    if (written > 0 && file.EndsWith(record.data(), written)) {
      file.TruncateTo(file.Size() - static_cast<std::int64_t>(written));
    }
    return;
  }
  // Another process may have rotated the log meanwhile: the file is renamed
  // only while the path still names it, so a fresh log is never moved over
  // the older generation.
  if (file.Size() > rotationBytes.load(std::memory_order_relaxed)) {
    file.RenameIfStillAt(rotatedPath);
  }
}

}  // namespace

std::string& NormalizeDirPath(std::string& path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (!path.empty() && path.back() != '/') path.push_back('/');
  return path;
}

std::string FormatLogTimestamp(int month, int day, int hour, int minute, int second,
                               int millisecond) {
  std::string text;
  appendTimestamp(text, month, day, hour, minute, second, millisecond);
  return text;
}

LogFile::LogFile() {
  const std::string root = defaultRoot();
  runtimeLogPath_ = root + ROOT_DIR + "q38_runtime.log";
  errorLogPath_ = root + ROOT_DIR + "q38_error.log";
}

void LogFile::SetRuntimeLogPath(const std::string& path) {
  runtimeLogPath_ = path.empty() ? "q38_runtime.log" : path;
}

void LogFile::SetErrorLogPath(const std::string& path) {
  errorLogPath_ = path.empty() ? "q38_error.log" : path;
}

void LogFile::WriteTrace(const std::string& label1, const std::string& value1,
                         const std::string& label2, const std::string& value2,
                         const std::string& label3, const std::string& value3) const noexcept {
  WriteRecord(runtimeLogPath_, label1, value1, label2, value2, label3, value3);
}

void LogFile::WriteError(const std::string& sourcePath, int line, int code,
                         const std::string& text) const noexcept {
  try {
    char context[256];
    std::snprintf(context, sizeof context, "Source File: [%s], LINE: [%d]",
                  sourceFileName(sourcePath).c_str(), line);
    WriteRecord(errorLogPath_, "ErrCode", std::to_string(code), "Context", context, "ErrString",
                text);
  } catch (...) {
    // No memory for the record's values: the record is dropped.
  }
}

void LogFile::WriteErrorWithContext(const std::string& sourcePath, int line, int code,
                                    const std::string& message,
                                    const std::string& context) const noexcept {
  try {
    WriteError(sourcePath, line, code, message + "\n" + context);
  } catch (...) {
    // No memory for the joined text: the record is dropped.
  }
}

void LogFile::WriteRecord(const std::string& path, const std::string& label1,
                          const std::string& value1, const std::string& label2,
                          const std::string& value2, const std::string& label3,
                          const std::string& value3) noexcept {
  // A record that cannot be built (memory ran out) is dropped: logging never
  // changes what the operation does or returns.
  try {
    RecordWriter& writer = recordWriter();
    std::lock_guard<std::mutex> lock(writer.mutex);
    // Everything that allocates comes before the file is opened, so nothing
    // can leave the file open or a record half-written.
    buildRecord(writer.record, label1, value1, label2, value2, label3, value3);
    writer.rotatedPath.assign(path).append(".bak");
    appendRecord(path, writer.record, writer.rotatedPath);
  } catch (...) {
  }
}

namespace testing {
void SetLogRotationBytes(long bytes) {
  rotationBytes.store(bytes > 0 ? bytes : kLogRotationBytes, std::memory_order_relaxed);
}
}  // namespace testing

}  // namespace sp
