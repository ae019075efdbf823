// Fuzzes the player's interface: byte-coded sequences of all 26 operations,
// with arbitrary arguments, against the scriptable fake decoder, which the
// sequence can also make fail, show frames or change its answers.
//
// Each input runs on a fresh player. After every step the run checks what
// must hold whatever came before:
//   - the result is a code the interface defines: 0, 2, 3, 12, 2..24 (a
//     decoder code plus one) or 26; -1 only from Play_Init; Play_Exit 0;
//   - a host port outside 0..127 is refused with 2 and its out values are
//     left alone; getters on a good port answer from the port's cache;
//   - every port's play state is 0..9 and its step permit 0 or 1;
//   - at most 32 host ports hold decoder ports, all different, 0..31;
//   - no decoder call names a port outside 0..31;
//   - no capture path is left pending once Play_GetPicture has returned.
//
// Play_InputData sleeps 100 ms after each refusal: this target is linked with
// that sleep replaced by a counter (see fuzz/CMakeLists.txt), which also checks
// that one call pauses at most ten times, 100 ms each. Play_GetPicture waits
// up to 50 ms for a frame on a condition variable, so frameless captures are
// rationed to one per input to keep runs cheap.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include "FakeVdPlay.h"
#include "log/LogFile.h"
#include "platform/Platform.h"
#include "player/SinglePlayer.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Folders prepared once: system folders whose configuration sets debug
// level 2 or 0, one without a configuration file, and the log folder.
struct Sandbox {
  std::string root;
  std::string systemLevel2;
  std::string systemLevel0;
  std::string systemNoConfig;
  std::string picture;
  std::string pictureInMissingFolder;

  Sandbox() {
    char pattern[] = "/tmp/sp_fuzz_player_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    root = std::string(pattern) + "/";
    systemLevel2 = makeSystem("level2", 2);
    systemLevel0 = makeSystem("level0", 0);
    systemNoConfig = root + "noconfig/";
    std::filesystem::create_directories(systemNoConfig);
    picture = root + "picture.bmp";
    pictureInMissingFolder = root + "missing/picture.bmp";
    // Small logs: the runs write many records.
    sp::testing::SetLogRotationBytes(256 * 1024);
    // Removed at exit through a copy that outlives every static object.
    static const std::string* const leftover = new std::string(root);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*leftover, ignored);
    });
  }

  std::string makeSystem(const std::string& name, int level) {
    const std::string dir = root + name + "/";
    std::filesystem::create_directories(dir + "q38/cfg");
    std::ofstream cfg(dir + "q38/cfg/Q38.cfg", std::ios::binary);
    cfg << "[GLOBAL]\n[TRACE_PATH][" << root << "logs/]\n[DEBUG_LEVEL][" << level << "]\n";
    return dir;
  }
};

Sandbox& sandbox() {
  static Sandbox instance;
  return instance;
}

// Reads the input front to back; past its end every read gives 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return v;
  }
  // A 32-bit value, mostly from the ends of the interface's ranges.
  std::int32_t value() {
    static const std::int64_t kEdges[] = {INT_MIN, -2, -1, 0, 1, 2, 3, 8, 9, 10, 50, 99, 100,
                                          101, 127, 128, 255, 0x00FFFFFF, 0x01000000, INT_MAX,
                                          0xFFFFFFFF, 352, 288, 704, 576};
    const std::uint8_t kind = byte();
    if (kind < 128) return static_cast<std::int32_t>(kEdges[kind % std::size(kEdges)]);
    if (kind < 224) return static_cast<std::int32_t>(kind - 176);  // -48..47
    return static_cast<std::int32_t>(u32());
  }
  // A host port: mostly valid, sometimes just outside or far outside.
  std::int32_t port() {
    const std::uint8_t kind = byte();
    if (kind < 200) return kind % 40;  // a few over 32 distinct ports
    if (kind < 232) return 40 + kind % 88;
    static const std::int32_t kBad[] = {-1, 128, INT_MIN, INT_MAX, 127, 0, -128, 129};
    return kBad[kind % std::size(kBad)];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// The fake's functions that a sequence can make fail.
const char* const kDecoderFunctions[] = {
    "VdPlay_SetOverlayMode", "VdPlay_SetStreamOpenMode", "VdPlay_OpenStream",
    "VdPlay_Play",           "VdPlay_InputData",         "VdPlay_Stop",
    "VdPlay_CloseStream",    "VdPlay_Pause",             "VdPlay_Fast",
    "VdPlay_Slow",           "VdPlay_OneByOne",          "VdPlay_PlaySound",
    "VdPlay_StopSound",      "VdPlay_SetVolume",         "VdPlay_RefreshPlay",
    "VdPlay_ResetSourceBuffer", "VdPlay_GetPictureSize", "VdPlay_SetPicQuality",
    "VdPlay_ThrowBFrameNum", "VdPlay_SetColor",          "VdPlay_SetDisplayRegion",
    "VdPlay_SetDisplayCallBack", "VdPLay_ConvertToBmpFile"};

// Decoder functions whose first argument is not a decoder port.
bool takesNoPort(const std::string& function) {
  return function == "VdPlay_StopSound" || function == "VdPlay_GetFileHeadLength" ||
         function == "VdPLay_ConvertToBmpFile";
}

bool definedResult(std::int32_t r) { return r == 0 || (r >= 2 && r <= 24) || r == 26; }

bool validHostPort(std::int32_t port) { return port >= 0 && port < 128; }

bool samePort(const sp::PortRecord& a, const sp::PortRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkInvariants(sp::SinglePlayer& player) {
  int mapped = 0;
  bool decoderPortTaken[32] = {};
  for (std::int32_t h = 0; h < 128; ++h) {
    const sp::PortRecord& record = player.Port(h);
    check(record.playState >= 0 && record.playState <= 9);
    check(record.stepInputPermit == 0 || record.stepInputPermit == 1);
    std::int32_t d = -1;
    if (player.LookupDecoderPort(h, d)) {
      check(d >= 0 && d < 32);
      check(!decoderPortTaken[d]);
      decoderPortTaken[d] = true;
      ++mapped;
    }
  }
  check(mapped <= 32);
  check(player.CapturePath().empty());
  for (const fake_vdplay::Call& call : fake_vdplay::Calls()) {
    if (takesNoPort(call.function)) continue;
    check(!call.args.empty() && call.args[0] >= 0 && call.args[0] < 32);
  }
  fake_vdplay::ClearCalls();
}

// Captures that will see no frame (50 ms each) a run may still make.
struct Budget {
  int framelessCaptures = 1;
};

// The pauses Play_InputData asked for during the current operation.
int pausesThisStep = 0;

// One operation of the interface; returns its result.
std::int32_t runSlot(int slot, sp::SinglePlayer& player, Input& in, Budget& budget,
                     int& framesOnInstall) {
  Sandbox& box = sandbox();
  static std::uint8_t header[64];
  static std::uint8_t stream[256];
  const std::int32_t port = in.port();
  const bool nullAddress = in.byte() < 24;
  constexpr std::int32_t kUntouched = 0x5A5A5A5A;
  std::int32_t outA = kUntouched;
  std::int32_t outB = kUntouched;
  std::int32_t* a = nullAddress ? nullptr : &outA;
  std::int32_t* b = nullAddress ? nullptr : &outB;
  const sp::PortRecord before = validHostPort(port) ? player.Port(port) : sp::PortRecord{};

  std::int32_t r = 0;
  switch (slot) {
    case 0: {
      const std::uint8_t which = in.byte() % 4;
      if (which == 0) sp::platform::testing::OverrideSystemDirectory(box.systemLevel2);
      if (which == 1) sp::platform::testing::OverrideSystemDirectory(box.systemLevel0);
      if (which == 2) sp::platform::testing::OverrideSystemDirectory(box.systemNoConfig);
      if (which == 3) sp::platform::testing::OverrideSystemDirectory(std::nullopt);
      r = player.Play_Init(in.value());
      check(which == 3 ? r == -1 : r == 0);
      sp::platform::testing::OverrideSystemDirectory(box.systemLevel0);
      return r;
    }
    case 1:
      r = player.Play_Exit();
      check(r == 0);
      return r;
    case 2: r = player.Play_SetOverlayMode(port, static_cast<std::uint32_t>(in.value())); break;
    case 3:
      r = player.Play_GetPreviewMode(port, a, reinterpret_cast<std::uint32_t*>(b));
      if (r == 0) check(outA == player.Port(port).overlayMode);
      break;
    case 4: r = player.Play_SetOpenMode(port, in.value()); break;
    case 5: {
      const SP_HWND window = reinterpret_cast<SP_HWND>(static_cast<std::intptr_t>(in.byte()));
      const std::uint32_t length = static_cast<std::uint32_t>(in.value());
      r = player.Play_OpenStream(window, port, nullAddress ? nullptr : header, length, in.value());
      if (r == 0) check(player.Port(port).playState == PLAYSTATE_PLAY);
      break;
    }
    case 6: {
      const std::uint32_t length = static_cast<std::uint32_t>(in.value());
      r = player.Play_InputData(port, nullAddress ? nullptr : stream, length, in.value());
      if (validHostPort(port) && r == 0 && before.playState == PLAYSTATE_ONE_BY_ONE) {
        check(player.Port(port).stepInputPermit == 0);
      }
      break;
    }
    case 7:
      r = player.Play_CloseStream(port);
      if (r == 0) {
        const sp::PortRecord& after = player.Port(port);
        check(after.playState == 0 && after.videoPara.brightness == 50 &&
              after.videoPara.contrast == 50 && after.videoPara.saturation == 50 &&
              after.videoPara.hue == 50);
      }
      break;
    case 8: {
      const std::int32_t state = in.value();
      r = player.Play_PlayState(port, state);
      if (validHostPort(port) && (state < 1 || state > 9) && before.playState != 0 && r != 2) {
        // Codes outside 1..9 on a started port change nothing.
        check(r == 0 && samePort(before, player.Port(port)));
      }
      break;
    }
    case 9:
      r = player.Play_GetPlayState(port, a);
      if (r == 0) check(outA == player.Port(port).playState);
      break;
    case 10: r = player.Play_SetVolume(port, in.value()); break;
    case 11: r = player.Play_GetVolume(port, a); break;
    case 12: {
      const std::uint8_t which = in.byte() % 4;
      const char* path = which == 0   ? box.picture.c_str()
                         : which == 1 ? box.pictureInMissingFolder.c_str()
                         : which == 2 ? ""
                                      : nullptr;
      if (framesOnInstall == 0) {
        if (budget.framelessCaptures == 0) return 0;
        --budget.framelessCaptures;
      }
      r = player.Play_GetPicture(port, path);
      break;
    }
    case 13: r = player.Play_RefreshPlay(port); break;
    case 14: {
      std::uint32_t length = kUntouched;
      r = player.Play_GetHeadLen(nullAddress ? nullptr : &length);
      check(r == 0 || (r == 2 && nullAddress));
      return r;
    }
    case 15:
      r = player.Play_GetPictureSize(port, a, b);
      if (validHostPort(port) && r == 0) {
        check(player.Port(port).pictureRect.right == outA &&
              player.Port(port).pictureRect.bottom == outB);
      }
      break;
    case 16: r = player.Play_SetPicQuality(port, in.value()); break;
    case 17:
      r = player.Play_GetPicQuality(port, a);
      if (r == 0) check(outA == player.Port(port).picQuality);
      break;
    case 18: r = player.Play_ThrowFrame(port, in.value()); break;
    case 19:
      r = player.Play_GetThrowNum(port, a);
      if (r == 0) check(outA == player.Port(port).throwBFrameNum);
      break;
    case 20: {
      SP_VIDEO_PARA para{in.value(), in.value(), in.value(), in.value(), in.value(), in.value()};
      r = player.Play_SetVideoPara(port, nullAddress ? nullptr : &para, in.value());
      if (r == 0) {
        const SP_VIDEO_PARA& cached = player.Port(port).videoPara;
        check(cached.reserved0 == 0 && cached.reserved5 == 0);
        check(cached.brightness >= 0 && cached.brightness <= 100);
        check(cached.contrast >= 0 && cached.contrast <= 100);
      }
      break;
    }
    case 21: {
      SP_VIDEO_PARA para{kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
      r = player.Play_GetVideoPara(port, nullAddress ? nullptr : &para);
      if (r == 0) check(std::memcmp(&para, &player.Port(port).videoPara, sizeof para) == 0);
      if (r != 0) check(para.brightness == kUntouched);
      break;
    }
    case 22: {
      SP_RECT rect{in.value(), in.value(), in.value(), in.value()};
      const std::int32_t enable = in.value();
      r = player.Play_SetDispRegion(port, enable, nullAddress ? nullptr : &rect);
      if (r == 0 && enable != 0) {
        const SP_RECT& region = player.Port(port).dispRegion;
        check(region.top >= 0 && region.left >= 0 &&
              region.right <= player.Port(port).pictureRect.right &&
              region.bottom <= player.Port(port).pictureRect.bottom);
      }
      break;
    }
    case 23: {
      SP_RECT rect{kUntouched, kUntouched, kUntouched, kUntouched};
      r = player.Play_GetDispRegion(port, nullAddress ? nullptr : &rect);
      if (r == 0) check(std::memcmp(&rect, &player.Port(port).dispRegion, sizeof rect) == 0);
      if (r != 0) check(rect.left == kUntouched);
      break;
    }
    case 24: r = player.Play_ClearBuffer(port); break;
    case 25: {
      std::uint32_t size = kUntouched;
      r = player.Play_GetBufferRemainDataSize(port, nullAddress ? nullptr : &size);
      break;
    }
    default: std::abort();
  }
  check(definedResult(r));
  if (!validHostPort(port)) {
    // Refused before anything else: no out value written.
    check(r == 2 && outA == kUntouched && outB == kUntouched);
  } else if (nullAddress && (slot == 3 || slot == 9 || slot == 11 || slot == 17 || slot == 19 ||
                             slot == 21 || slot == 23)) {
    check(r == 2 && samePort(before, player.Port(port)));
  }
  return r;
}

}  // namespace

// Stands in for sp::platform::SleepMilliseconds (linked with
// -Wl,--wrap): counts the pause instead of sleeping.
extern "C" void __wrap__ZN2sp8platform17SleepMillisecondsEj(std::uint32_t ms) {
  check(ms == 100);
  ++pausesThisStep;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox& box = sandbox();
  sp::platform::testing::OverrideSystemDirectory(box.systemLevel0);
  fake_vdplay::Reset();
  int framesOnInstall = 1;
  fake_vdplay::SetFramesOnInstall(framesOnInstall);
  Budget budget;

  Input in(data, size);
  ISinglePlayer* iface = CreateSinglePlayerDll();
  check(iface != nullptr);
  auto* player = static_cast<sp::SinglePlayer*>(iface);

  for (int steps = 0; !in.done() && steps < 256; ++steps) {
    const std::uint8_t op = in.byte();
    if (op < 26 * 8) {
      pausesThisStep = 0;
      const int slot = op % 26;
      runSlot(slot, *player, in, budget, framesOnInstall);
      check(pausesThisStep == 0 || slot == 6);
      check(pausesThisStep <= 10);
    } else if (op < 216) {
      // Script decoder failures: after `skip` calls, `times` calls fail with `code`.
      const char* function = kDecoderFunctions[in.byte() % std::size(kDecoderFunctions)];
      const std::uint32_t code = static_cast<std::uint32_t>(in.value());
      int times = in.byte() % 5;
      const int skip = in.byte() % 4;
      if (times == 4) times = -1;  // from then on
      if (times == 3) times = 10;  // all ten tries of one data input
      fake_vdplay::FailCalls(function, code, times, skip);
    } else if (op < 224) {
      framesOnInstall = in.byte() % 3;
      fake_vdplay::SetFramesOnInstall(framesOnInstall);
    } else if (op < 232) {
      fake_vdplay::SetPictureSize(in.value(), in.value());
    } else if (op < 240) {
      fake_vdplay::SetSourceBufferRemain(static_cast<std::uint32_t>(in.value()));
    } else if (op < 248) {
      // A frame shown on a decoder port: reaches the player only where a
      // failed removal left its callback installed.
      fake_vdplay::DisplayFrame(static_cast<std::int32_t>(in.byte() % 34) - 1);
    } else {
      // Releases: of a foreign pointer or null (ignored), or of the player,
      // which the next operations then get afresh.
      const std::uint8_t which = in.byte() % 3;
      if (which == 0) ReleaseSinglePlayerDll(nullptr);
      if (which == 1) ReleaseSinglePlayerDll(reinterpret_cast<ISinglePlayer*>(&budget));
      if (which == 2) {
        ReleaseSinglePlayerDll(iface);
        iface = CreateSinglePlayerDll();
        check(iface != nullptr);
        player = static_cast<sp::SinglePlayer*>(iface);
        for (std::int32_t h = 0; h < 128; ++h) check(player->Port(h).playState == 0);
      }
      check(CreateSinglePlayerDll() == iface);
    }
    checkInvariants(*player);
  }
  ReleaseSinglePlayerDll(iface);
  return 0;
}
