// POSIX side of os.h apart from the video window (os_x11_window.cpp or
// os_no_window.cpp): the decoder library is already loaded with the player,
// so its functions are found in the process's global symbol scope.
#include <dlfcn.h>

#include "os.h"

namespace spdemo::os {

AnyFunction findDecoderFunction(const char* name) {
  return reinterpret_cast<AnyFunction>(dlsym(RTLD_DEFAULT, name));
}

std::string systemDriveRoot() { return "/"; }

}  // namespace spdemo::os
