// The shared part of every operation's boundary: the level-3 trace records
// and the error record of an exception caught there.
#include "player/OperationBoundary.h"

#include "log/DecoderErrors.h"
#include "player/SinglePlayer.h"

namespace sp {

std::string DescribeArguments(const char* names, std::initializer_list<TraceArgument> values) {
  std::string text;
  const char* name = names;
  for (const TraceArgument& argument : values) {
    const char* nameEnd = name;
    while (*nameEnd != '\0' && *nameEnd != ',') ++nameEnd;
    if (!text.empty()) text += ", ";
    text.append(name, nameEnd);
    text += '=';
    if (argument.isAddress) {
      text += argument.value != 0 ? "present" : "null";
    } else {
      text += std::to_string(argument.value);
    }
    name = *nameEnd == ',' ? nameEnd + 1 : nameEnd;
    while (*name == ' ') ++name;
  }
  return text;
}

// The records' strings are built here, so a failure to build them (out of
// memory) is caught here: the record is dropped, the operation goes on.
void SinglePlayer::WriteTraceRecord(const texts::TraceText& text) const noexcept {
  try {
    static const std::string empty;
    log.WriteTrace(text.label, text.name, empty, empty, empty, empty);
  } catch (...) {
  }
}

void SinglePlayer::TraceWithArguments(const texts::TraceText& text, const std::string& arguments,
                                      const int32_t* result) const noexcept {
  try {
    if (result == nullptr) {
      log.WriteTrace(text.label, text.name, kArgumentsLabel, arguments, "", "");
    } else {
      log.WriteTrace(text.label, text.name, kArgumentsLabel, arguments, kResultLabel,
                     std::to_string(*result));
    }
  } catch (...) {
  }
}

int32_t SinglePlayer::ReportEscapedException(const texts::TraceText& text,
                                             int32_t code) const noexcept {
  // The result is the error table's for the code, whether or not the
  // record below can still be written.
  const int32_t result = DecoderErrorResult(code);
  try {
    sp::ReportDecoderError(log, code, std::string(text.name) + "()");
    if (traceArguments && debugLevel >= text.traceLevel) TraceWithArguments(text, "", &result);
  } catch (...) {
    // Out of memory for the record too: the host still gets the result.
  }
  return result;
}

}  // namespace sp
