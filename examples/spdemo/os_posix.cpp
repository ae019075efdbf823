// POSIX side of os.h: the decoder library is already loaded with the player,
// so its functions are found in the process's global symbol scope.
#include <dlfcn.h>

#include "os.h"

namespace spdemo::os {

AnyFunction findDecoderFunction(const char* name) {
  return reinterpret_cast<AnyFunction>(dlsym(RTLD_DEFAULT, name));
}

std::string systemDriveRoot() { return "/"; }

std::unique_ptr<VideoWindow> VideoWindow::open(std::uint32_t, std::uint32_t, const std::string&,
                                               std::string& error) {
  error = "--window needs the Windows build; this build shows no video";
  return nullptr;
}

}  // namespace spdemo::os
