// What the operations' boundary writes when the configuration asks for the
// arguments: each trace record names the operation's arguments, so that a
// host can tell from the log which port and values it passed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace sp {

// Labels of the argument record's second and third pair.
inline constexpr const char kArgumentsLabel[] = "Arguments";
inline constexpr const char kResultLabel[] = "Result";

// One argument as the trace shows it: a number in decimal, or an address as
// "present" or "null" (never what it points at). Built implicitly from the
// operation's own arguments, whatever their integer or pointer type.
struct TraceArgument {
  TraceArgument(std::int64_t number) : value(number) {}
  TraceArgument(const void* address) : isAddress(true), value(address != nullptr ? 1 : 0) {}

  bool isAddress = false;
  std::int64_t value;
};

// Names the values: "port, data, length" with 5, an address and 4096 gives
// "port=5, data=present, length=4096".
std::string DescribeArguments(const char* names, std::initializer_list<TraceArgument> values);

}  // namespace sp
