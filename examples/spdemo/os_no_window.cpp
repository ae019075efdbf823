// The video window of builds whose decoder paints nowhere.
#include "os.h"

namespace spdemo::os {

std::unique_ptr<VideoWindow> VideoWindow::open(std::uint32_t, std::uint32_t, const std::string&,
                                               std::string& error) {
  error = "this build shows no video (the decoder was built without X11)";
  return nullptr;
}

}  // namespace spdemo::os
