// Every test of a program that links the player runs in a private temporary
// folder of its own: that folder is the system folder (so the configuration
// file and the default logs are the test's) and, natively, the working
// folder (so the relative fallback log folder c:/tovan/ lands there too).
// A test never reads or writes the machine's configuration or log folders,
// whether or not its fixture sets up a folder of its own.
//
// TestIsolation.cpp sets this up for each test; sp_add_gtest compiles it into
// every test program that links the player's code.
#pragma once

#include <string>

namespace sp_test {

// Makes the running test's private folder the system folder again, after a
// test or fixture pointed it elsewhere.
void UseIsolatedSystemDirectory();

// The running test's private folder, "/" separated and ending in "/".
std::string IsolatedFolder();

}  // namespace sp_test
