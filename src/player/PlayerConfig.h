// The configuration file's path below the system drive's root.
#pragma once

#include <string>

#include "config/Constants.h"

namespace sp {
static const std::string PLAYER_CONFIG_FILE = CONFIG_FILE_PATH;
}  // namespace sp
