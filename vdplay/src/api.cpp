// The exported functions: argument checks that need no port, the port
// table, error recording, and no exception ever leaving the library.
#define VDPLAY_BUILDING_LIBRARY
#include "VdPlay.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <new>

#include "render/bmp_file.h"
#include "errors.h"
#include "platform/exit_hook.h"
#include "port/port.h"
#include "port/sound_loop.h"

namespace vdplay {
namespace {

Port* portAt(VdLong port);

struct Library {
  Library() : sound(&soundPortAt) {
    for (int i = 0; i < VDPLAY_MAX_PORTS; ++i) ports[i].reset(new Port(i));
  }
  std::unique_ptr<Port> ports[VDPLAY_MAX_PORTS];
  SoundLoop sound;  // plays the one port whose sound is on
  std::once_flag exitHook;

  static Port* soundPortAt(int port) { return portAt(port); }
};

// Never destroyed: display threads may run until the process ends, and the
// order of static destruction across the host and this library is unknown.
// Built in static storage on first use; when building it runs out of memory
// the caller's call fails with the allocation code and the next call tries
// again.
Library& lib() {
  alignas(Library) static unsigned char storage[sizeof(Library)];
  static Library* l = new (storage) Library;
  return *l;
}

void stopAllForExit() {
  markExiting();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (const std::unique_ptr<Port>& p : lib().ports) p->stopForExit(deadline);
  lib().sound.stopForExit(deadline);
}

bool isPort(VdLong port) { return port >= 0 && port < VDPLAY_MAX_PORTS; }

Port* portAt(VdLong port) { return isPort(port) ? lib().ports[port].get() : nullptr; }

// The sound stage's thread, like the ports', is stopped at process exit.
void installExitHookOnce() {
  std::call_once(lib().exitHook, [] { installExitHook(&stopAllForExit); });
}

// The error code of an exception caught at an exported function.
std::uint32_t codeOfCurrentException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return VDPLAY_ERR_ALLOC;
  } catch (...) {
    return VDPLAY_ERR_ORDER;
  }
}

template <class Op>
VdBool onPort(VdLong port, Op op) {
  if (!isPort(port)) return 0;  // no slot to record in; GetLastError answers 1 for such ports
  std::uint32_t code;
  try {
    code = op(*portAt(port));
  } catch (...) {
    code = codeOfCurrentException();
  }
  if (code) recordPortError(port, code);
  return code == 0;
}

}  // namespace
}  // namespace vdplay

using vdplay::onPort;
using vdplay::Port;

extern "C" {

VdBool VDPLAY_CALL VdPlay_SetOverlayMode(VdLong port, VdBool overlay, VdDword colorKey) {
  return onPort(port, [&](Port& p) { return p.setOverlayMode(overlay != 0, colorKey); });
}

VdBool VDPLAY_CALL VdPlay_SetStreamOpenMode(VdLong port, VdDword mode) {
  return onPort(port, [&](Port& p) { return p.setStreamOpenMode(mode); });
}

VdBool VDPLAY_CALL VdPlay_OpenStream(VdLong port, VdByte* header, VdDword headerLen,
                                     VdDword poolBytes) {
  return onPort(port, [&](Port& p) { return p.openStream(header, headerLen, poolBytes); });
}

VdBool VDPLAY_CALL VdPlay_Play(VdLong port, VdWindow wnd) {
  return onPort(port, [&](Port& p) {
    const std::uint32_t code = p.play(wnd);
    if (!code) vdplay::installExitHookOnce();
    return code;
  });
}

VdBool VDPLAY_CALL VdPlay_InputData(VdLong port, VdByte* data, VdDword len) {
  return onPort(port, [&](Port& p) { return p.inputData(data, len); });
}

VdBool VDPLAY_CALL VdPlay_Stop(VdLong port) {
  return onPort(port, [](Port& p) { return p.stop(); });
}

VdBool VDPLAY_CALL VdPlay_CloseStream(VdLong port) {
  return onPort(port, [](Port& p) { return p.closeStream(); });
}

VdBool VDPLAY_CALL VdPlay_Pause(VdLong port, VdDword pause) {
  return onPort(port, [&](Port& p) { return p.pause(pause); });
}

VdBool VDPLAY_CALL VdPlay_Fast(VdLong port) {
  return onPort(port, [](Port& p) { return p.fast(); });
}

VdBool VDPLAY_CALL VdPlay_Slow(VdLong port) {
  return onPort(port, [](Port& p) { return p.slow(); });
}

VdBool VDPLAY_CALL VdPlay_OneByOne(VdLong port) {
  return onPort(port, [](Port& p) { return p.oneByOne(); });
}

VdBool VDPLAY_CALL VdPlay_PlaySound(VdLong port) {
  return onPort(port, [&](Port&) {
    if (!vdplay::lib().sound.playSound(port)) return std::uint32_t{VDPLAY_ERR_ALLOC};
    vdplay::installExitHookOnce();
    return 0u;
  });
}

VdBool VDPLAY_CALL VdPlay_StopSound(void) {
  try {
    vdplay::lib().sound.stopSound();
    return 1;
  } catch (...) {
    // No port to record in: the failure goes where every port sees it.
    vdplay::recordConversionError(vdplay::codeOfCurrentException());
    return 0;
  }
}

VdBool VDPLAY_CALL VdPlay_SetVolume(VdLong port, VdDword volume) {
  return onPort(port, [&](Port& p) { return p.setVolume(volume); });
}

VdBool VDPLAY_CALL VdPlay_RefreshPlay(VdLong port) {
  return onPort(port, [](Port& p) { return p.refresh(); });
}

VdBool VDPLAY_CALL VdPlay_ResetSourceBuffer(VdLong port) {
  return onPort(port, [](Port& p) { return p.resetSourceBuffer(); });
}

VdDword VDPLAY_CALL VdPlay_GetFileHeadLength(void) { return VDPLAY_FILE_HEADER_SIZE; }

VdBool VDPLAY_CALL VdPlay_GetPictureSize(VdLong port, VdLong* width, VdLong* height) {
  return onPort(port, [&](Port& p) { return p.pictureSize(width, height); });
}

VdBool VDPLAY_CALL VdPlay_SetPicQuality(VdLong port, VdBool highQuality) {
  return onPort(port, [&](Port& p) { return p.setPicQuality(highQuality != 0); });
}

VdBool VDPLAY_CALL VdPlay_ThrowBFrameNum(VdLong port, VdDword num) {
  return onPort(port, [&](Port& p) { return p.throwBFrames(num); });
}

VdBool VDPLAY_CALL VdPlay_SetColor(VdLong port, VdDword region, int brightness, int contrast,
                                   int saturation, int hue) {
  return onPort(port, [&](Port& p) {
    return p.setColor(region, brightness, contrast, saturation, hue);
  });
}

VdBool VDPLAY_CALL VdPlay_SetDisplayRegion(VdLong port, VdDword region, VdRect* rect,
                                           VdWindow wnd, VdBool enable) {
  return onPort(port,
                [&](Port& p) { return p.setDisplayRegion(region, rect, wnd, enable != 0); });
}

VdDword VDPLAY_CALL VdPlay_GetSourceBufferRemain(VdLong port) {
  try {
    Port* p = vdplay::portAt(port);
    return p ? p->bytesWaiting() : 0;
  } catch (...) {
    return 0;
  }
}

VdBool VDPLAY_CALL VdPlay_SetDisplayCallBack(VdLong port, VdDisplayCallback cb) {
  return onPort(port, [&](Port& p) { return p.setDisplayCallback(cb); });
}

VdBool VDPLAY_CALL VdPLay_ConvertToBmpFile(char* frame, VdLong size, VdLong width, VdLong height,
                                           VdLong type, char* path) {
  std::uint32_t code;
  try {
    code = vdplay::writeI420AsBmp(reinterpret_cast<const std::uint8_t*>(frame), size, width,
                                  height, type, path);
  } catch (...) {
    code = vdplay::codeOfCurrentException();
  }
  if (code) vdplay::recordConversionError(code);
  return code == 0;
}

VdDword VDPLAY_CALL VdPlay_GetLastError(VdLong port) {
  if (!vdplay::isPort(port)) return VDPLAY_ERR_BAD_ARGUMENT;
  try {
    return vdplay::lastError(port);
  } catch (...) {
    return vdplay::codeOfCurrentException();
  }
}

VdBool VDPLAY_CALL VdPlayX_GetStats(VdLong port, VdPlayStats* out) {
  return onPort(port, [&](Port& p) {
    if (!out) return static_cast<std::uint32_t>(VDPLAY_ERR_BAD_ARGUMENT);
    p.stats(*out);
    return 0u;
  });
}

}  // extern "C"
