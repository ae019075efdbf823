// The three commands of spdemo; each returns the program's exit status.
#pragma once

#include "options.h"

namespace spdemo {

// No arguments: the generated test pattern through every play state.
int runTour(const Options& options);
// play FILE: a stream file or a .y4m file.
int runPlay(const Options& options);
// pack IN OUT: writes what play takes as a stream file.
int runPack(const Options& options);

// Prints where a snapshot went (or that none was written).
void printSnapshot(const std::string& path);

}  // namespace spdemo
