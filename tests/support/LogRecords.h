// Test helpers: parses the runtime and error logs into records, so that tests
// assert on codes, texts and contexts instead of searching raw bytes.
//
// A record is "\r\n[timestamp]\r\n" followed by three "label:[value]\r\n"
// lines; a value may itself span lines (the error text of a decoder failure
// is "message\r\ncontext"), so a value ends at the first "]\r\n".
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "support/TempDir.h"

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
inline std::vector<LogRecord> ParseLogRecords(const std::string& bytes, bool& ok) {
  std::vector<LogRecord> records;
  ok = true;
  std::string::size_type pos = 0;
  while (pos < bytes.size()) {
    if (bytes.compare(pos, 3, "\r\n[") != 0) {
      ok = false;
      return records;
    }
    pos += 3;
    const std::string::size_type stampEnd = bytes.find("]\r\n", pos);
    if (stampEnd == std::string::npos) {
      ok = false;
      return records;
    }
    LogRecord record;
    record.timestamp = bytes.substr(pos, stampEnd - pos);
    pos = stampEnd + 3;
    for (int i = 0; i < 3; ++i) {
      const std::string::size_type colon = bytes.find(":[", pos);
      const std::string::size_type lineEnd = bytes.find("\r\n", pos);
      if (colon == std::string::npos || colon > lineEnd) {
        ok = false;
        return records;
      }
      const std::string::size_type valueEnd = bytes.find("]\r\n", colon + 2);
      if (valueEnd == std::string::npos) {
        ok = false;
        return records;
      }
      record.label[i] = bytes.substr(pos, colon - pos);
      record.value[i] = bytes.substr(colon + 2, valueEnd - colon - 2);
      pos = valueEnd + 3;
    }
    records.push_back(record);
  }
  return records;
}

// The records of a file; a missing file has none. A malformed file gives
// `ok` false.
inline std::vector<LogRecord> ReadLogRecords(const std::string& path, bool& ok) {
  return ParseLogRecords(ReadFile(path), ok);
}

// Takes an error record apart; `ok` is false when its labels or its context
// line are not the error record's.
inline ErrorRecord ToErrorRecord(const LogRecord& record, bool& ok) {
  ErrorRecord error;
  ok = record.label[0] == "ErrCode" && record.label[1] == "Context" &&
       record.label[2] == "ErrString" && !record.value[0].empty();
  char* end = nullptr;
  error.code = static_cast<int>(std::strtol(record.value[0].c_str(), &end, 10));
  ok = ok && end != nullptr && *end == '\0';

  const std::string prefix = "Source File: [";
  const std::string middle = "], LINE: [";
  const std::string& context = record.value[1];
  const std::string::size_type split = context.find(middle);
  if (context.compare(0, prefix.size(), prefix) == 0 && split != std::string::npos &&
      context.back() == ']') {
    error.sourceFile = context.substr(prefix.size(), split - prefix.size());
    error.line = std::atoi(context.c_str() + split + middle.size());
  } else {
    ok = false;
  }

  const std::string& text = record.value[2];
  const std::string::size_type lineBreak = text.find("\r\n");
  error.hasContext = lineBreak != std::string::npos;
  error.message = text.substr(0, lineBreak);
  if (error.hasContext) error.context = text.substr(lineBreak + 2);
  return error;
}

}  // namespace sp_test
