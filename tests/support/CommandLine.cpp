#include "support/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sp_test {

int NumberArgument(const std::string& name, int fallback) {
  const std::string prefix = name + "=";
  for (const std::string& arg : ::testing::internal::GetArgvs()) {
    if (arg.rfind(prefix, 0) == 0) return std::atoi(arg.c_str() + prefix.size());
  }
  return fallback;
}

}  // namespace sp_test
