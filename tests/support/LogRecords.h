// Test helpers: parses the runtime and error logs into records, so that tests
// assert on codes, texts and contexts instead of searching raw bytes.
//
// A record is "\r\n[timestamp]\r\n" followed by three "label:[value]\r\n"
// lines; a value may itself span lines (the error text of a decoder failure
// is "message\r\ncontext"), so a value ends at the first "]\r\n".
#pragma once

#include <string>
#include <vector>

namespace sp_test {

struct LogRecord {
  std::string timestamp;
  std::string label[3];
  std::string value[3];
};

// One error record, its parts taken apart.
struct ErrorRecord {
  int code = 0;
  std::string sourceFile;  // file name of the reporting source
  int line = 0;
  std::string message;  // ErrString up to its first line break
  std::string context;  // what follows the line break; empty when there is none
  bool hasContext = false;
};

// Parses every record of a log file's bytes. `ok` is false (and the records
// read so far are returned) when the bytes do not follow the layout.
std::vector<LogRecord> ParseLogRecords(const std::string& bytes, bool& ok);

// The records of a file; a missing file has none. A malformed file gives
// `ok` false.
std::vector<LogRecord> ReadLogRecords(const std::string& path, bool& ok);

// Takes an error record apart; `ok` is false when its labels or its context
// line are not the error record's.
ErrorRecord ToErrorRecord(const LogRecord& record, bool& ok);

// The records of a log file, which must parse into whole records (a test
// failure otherwise).
std::vector<LogRecord> ReadWholeRecords(const std::string& path);

// The error records of a log file, taken apart; a test failure for a broken
// record or one that is no error record.
std::vector<ErrorRecord> ReadErrorRecords(const std::string& path);

}  // namespace sp_test
