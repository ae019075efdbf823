// Test helpers: knobs given on a test program's command line.
#pragma once

#include <string>

namespace sp_test {

// The number N of "<name>=N" on the command line (for example "--seconds"),
// else the fallback.
int NumberArgument(const std::string& name, int fallback);

}  // namespace sp_test
