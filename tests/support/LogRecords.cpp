#include "support/LogRecords.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/TempDir.h"

namespace sp_test {

std::vector<LogRecord> ParseLogRecords(const std::string& bytes, bool& ok) {
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

std::vector<LogRecord> ReadLogRecords(const std::string& path, bool& ok) {
  return ParseLogRecords(ReadFile(path), ok);
}

ErrorRecord ToErrorRecord(const LogRecord& record, bool& ok) {
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

std::vector<LogRecord> ReadWholeRecords(const std::string& path) {
  bool ok = true;
  std::vector<LogRecord> records = ReadLogRecords(path, ok);
  EXPECT_TRUE(ok) << path << " holds a broken record after " << records.size() << " whole ones";
  return records;
}

std::vector<ErrorRecord> ReadErrorRecords(const std::string& path) {
  std::vector<ErrorRecord> errors;
  for (const LogRecord& record : ReadWholeRecords(path)) {
    bool ok = true;
    errors.push_back(ToErrorRecord(record, ok));
    EXPECT_TRUE(ok) << "not an error record: " << record.label[0];
  }
  return errors;
}

}  // namespace sp_test
