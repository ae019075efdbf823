// Turns a decoder error code into its fixed message, an error record and the
// result code that an operation hands back to the host.
#pragma once

#include <string>

#include "log/LogFile.h"

namespace sp {

// Result for any code outside 1..23 (never 25, never 0).
constexpr int kUnknownDecoderErrorResult = 26;

// The result the table gives for a code, without writing a record.
constexpr int DecoderErrorResult(int code) {
  return code >= 1 && code <= 23 ? code + 1 : kUnknownDecoderErrorResult;
}

// Writes one error record through log with the code, its message and the
// context (the failed call), and returns code + 1 for codes 1 to 23, else 26.
int ReportDecoderError(const LogFile& log, int code, const std::string& context) noexcept;

}  // namespace sp
