// Test helpers: knobs given on a test program's command line.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sp_test {

// The number N of "<name>=N" on the command line (for example "--seconds"),
// else the fallback.
inline int NumberArgument(const std::string& name, int fallback) {
  const std::string prefix = name + "=";
  for (const std::string& arg : ::testing::internal::GetArgvs()) {
    if (arg.rfind(prefix, 0) == 0) return std::atoi(arg.c_str() + prefix.size());
  }
  return fallback;
}

}  // namespace sp_test
