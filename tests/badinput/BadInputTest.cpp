// Bad input over every slot, table-driven, against the fake decoder.
//
// Host port 0 is playing, host port 1 has a decoder port but no stream, and
// host port 2 never got one. Each case makes one call and states its result,
// the one error record it writes (or none), whether it reaches the decoder
// and what it may change; everything else the player holds (all 128 port
// records, the port table, the colour key, the volume, the capture path)
// must be exactly as before.
#include <gtest/gtest.h>

#include <SinglePlayer.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FakeVdPlay.h"
#include "player/SinglePlayer.h"
#include "support/GbkTexts.h"
#include "support/LogRecords.h"
#include "support/Sandbox.h"

namespace {

namespace gbk = sp_test::gbk;

constexpr std::int32_t kPlaying = 0;
constexpr std::int32_t kReady = 1;
constexpr std::int32_t kUnassigned = 2;
constexpr std::int32_t kUntouched = 0x5A5A5A5A;

// What the player holds, for "nothing changed".
struct Snapshot {
  std::vector<sp::PortRecord> ports;
  std::vector<std::int32_t> decoderPorts;
  std::int32_t overlay = 0;
  std::uint32_t colorKey = 0;
  std::int32_t volume = 0;
  std::string capturePath;

  bool operator==(const Snapshot& o) const {
    return ports.size() == o.ports.size() &&
           std::memcmp(ports.data(), o.ports.data(), ports.size() * sizeof(sp::PortRecord)) ==
               0 &&
           decoderPorts == o.decoderPorts && overlay == o.overlay && colorKey == o.colorKey &&
           volume == o.volume && capturePath == o.capturePath;
  }
};

struct Record {
  bool expected = false;
  int code = 0;
  std::string message;
  std::string context;  // empty: an own-check record without a context line
};

Record None() { return Record{}; }
Record Own(const std::string& message) { return Record{true, 0, message, ""}; }
Record Decoder(int code, const std::string& message, const std::string& context) {
  return Record{true, code, message, context};
}

struct Case {
  std::string name;
  std::function<std::int32_t(ISinglePlayer&)> call;
  std::int32_t result;
  Record record;
  // The decoder functions the call makes, in order (most cases: none).
  std::vector<std::string> decoderCalls;
  // Changes the case is allowed to make, applied to the snapshot before the
  // comparison.
  std::function<void(Snapshot&)> changes;
};

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_vdplay::Reset();
    sandbox.Configure(0);
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->Play_Init(0), SP_OK);
    ASSERT_EQ(player->Play_SetOpenMode(kPlaying, 0), SP_OK);
    ASSERT_EQ(player->Play_OpenStream(nullptr, kPlaying, header, sizeof header, 0), SP_OK);
    ASSERT_EQ(player->Play_SetOpenMode(kReady, 1), SP_OK);
  }
  void TearDown() override {
    ReleaseSinglePlayerDll(player);
    fake_vdplay::Reset();
  }

  sp::SinglePlayer& Impl() { return *static_cast<sp::SinglePlayer*>(player); }

  Snapshot Take() {
    Snapshot s;
    for (std::int32_t h = 0; h < SP_PLAYER_PORT_COUNT; ++h) {
      s.ports.push_back(Impl().Port(h));
      std::int32_t d = -1;
      s.decoderPorts.push_back(Impl().LookupDecoderPort(h, d) ? d : -1);
    }
    EXPECT_EQ(player->Play_GetPreviewMode(kUnassigned, &s.overlay, &s.colorKey), SP_OK);
    EXPECT_EQ(player->Play_GetVolume(kUnassigned, &s.volume), SP_OK);
    s.capturePath = Impl().CapturePath();
    return s;
  }

  void Run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Snapshot expected = Take();
      if (c.changes) c.changes(expected);
      std::filesystem::remove(sandbox.ErrorLog());
      fake_vdplay::ClearCalls();

      EXPECT_EQ(c.call(*player), c.result);

      EXPECT_EQ(fake_vdplay::CallNames(), c.decoderCalls);
      const std::vector<sp_test::ErrorRecord> errors =
          sp_test::ReadErrorRecords(sandbox.ErrorLog());
      if (!c.record.expected) {
        EXPECT_TRUE(errors.empty()) << errors.size() << " records, first: "
                                    << (errors.empty() ? "" : errors[0].message);
      } else {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, c.record.code);
        EXPECT_EQ(errors[0].message, c.record.message);
        EXPECT_EQ(errors[0].hasContext, !c.record.context.empty());
        EXPECT_EQ(errors[0].context, c.record.context);
      }
      EXPECT_TRUE(Take() == expected) << "the call changed what it must not";
    }
  }

  sp_test::Sandbox sandbox;
  ISinglePlayer* player = nullptr;
  std::uint8_t header[40] = {};
  std::uint8_t data[16] = {};
};

const std::int32_t kBadPorts[] = {INT_MIN, -1, SP_PLAYER_PORT_COUNT, INT_MAX};

TEST_F(BadInput, HostPortsOutsideTheTableAreRefusedBySlotsTwoToTwentyFive) {
  std::vector<Case> cases;
  for (const std::int32_t port : kBadPorts) {
    const std::string p = " port " + std::to_string(port);
    // Out values must stay unwritten: each getter checks its own.
    auto out = [](std::int32_t* v, std::int32_t r) {
      EXPECT_EQ(*v, kUntouched);
      return r;
    };
    std::uint8_t* h = header;
    std::uint8_t* d = data;
    const std::vector<std::pair<std::string, std::function<std::int32_t(ISinglePlayer&)>>> calls = {
        {"Play_SetOverlayMode", [=](ISinglePlayer& q) { return q.Play_SetOverlayMode(port, 0); }},
        {"Play_GetPreviewMode",
         [=](ISinglePlayer& q) {
           std::int32_t a = kUntouched;
           std::uint32_t b = kUntouched;
           const std::int32_t r = q.Play_GetPreviewMode(port, &a, &b);
           EXPECT_EQ(b, static_cast<std::uint32_t>(kUntouched));
           return out(&a, r);
         }},
        {"Play_SetOpenMode", [=](ISinglePlayer& q) { return q.Play_SetOpenMode(port, 0); }},
        {"Play_OpenStream",
         [=](ISinglePlayer& q) { return q.Play_OpenStream(nullptr, port, h, 40, 0); }},
        {"Play_InputData", [=](ISinglePlayer& q) { return q.Play_InputData(port, d, 16, 0); }},
        {"Play_CloseStream", [=](ISinglePlayer& q) { return q.Play_CloseStream(port); }},
        {"Play_PlayState", [=](ISinglePlayer& q) { return q.Play_PlayState(port, 1); }},
        {"Play_GetPlayState",
         [=](ISinglePlayer& q) {
           std::int32_t a = kUntouched;
           return out(&a, q.Play_GetPlayState(port, &a));
         }},
        {"Play_SetVolume", [=](ISinglePlayer& q) { return q.Play_SetVolume(port, 50); }},
        {"Play_GetVolume",
         [=](ISinglePlayer& q) {
           std::int32_t a = kUntouched;
           return out(&a, q.Play_GetVolume(port, &a));
         }},
        {"Play_GetPicture", [=](ISinglePlayer& q) { return q.Play_GetPicture(port, "x.bmp"); }},
        {"Play_RefreshPlay", [=](ISinglePlayer& q) { return q.Play_RefreshPlay(port); }},
        {"Play_GetPictureSize",
         [=](ISinglePlayer& q) {
           std::int32_t a = kUntouched;
           std::int32_t b = kUntouched;
           const std::int32_t r = q.Play_GetPictureSize(port, &a, &b);
           EXPECT_EQ(b, kUntouched);
           return out(&a, r);
         }},
        {"Play_SetPicQuality", [=](ISinglePlayer& q) { return q.Play_SetPicQuality(port, 1); }},
        {"Play_GetPicQuality",
         [=](ISinglePlayer& q) {
           std::int32_t a = kUntouched;
           return out(&a, q.Play_GetPicQuality(port, &a));
         }},
        {"Play_ThrowFrame", [=](ISinglePlayer& q) { return q.Play_ThrowFrame(port, 1); }},
        {"Play_GetThrowNum",
         [=](ISinglePlayer& q) {
           std::int32_t a = kUntouched;
           return out(&a, q.Play_GetThrowNum(port, &a));
         }},
        {"Play_SetVideoPara",
         [=](ISinglePlayer& q) {
           SP_VIDEO_PARA para{0, 10, 20, 30, 40, 0};
           return q.Play_SetVideoPara(port, &para, 0);
         }},
        {"Play_GetVideoPara",
         [=](ISinglePlayer& q) {
           SP_VIDEO_PARA para{kUntouched, kUntouched, kUntouched, kUntouched, kUntouched,
                              kUntouched};
           return out(&para.brightness, q.Play_GetVideoPara(port, &para));
         }},
        {"Play_SetDispRegion",
         [=](ISinglePlayer& q) {
           SP_RECT rect{0, 0, 0, 0};
           return q.Play_SetDispRegion(port, 1, &rect);
         }},
        {"Play_GetDispRegion",
         [=](ISinglePlayer& q) {
           SP_RECT rect{kUntouched, kUntouched, kUntouched, kUntouched};
           return out(&rect.left, q.Play_GetDispRegion(port, &rect));
         }},
        {"Play_ClearBuffer", [=](ISinglePlayer& q) { return q.Play_ClearBuffer(port); }},
        {"Play_GetBufferRemainDataSize",
         [=](ISinglePlayer& q) {
           std::uint32_t a = kUntouched;
           const std::int32_t r = q.Play_GetBufferRemainDataSize(port, &a);
           EXPECT_EQ(a, static_cast<std::uint32_t>(kUntouched));
           return r;
         }},
    };
    ASSERT_EQ(calls.size(), 23u);  // slots 2 to 25 but Play_GetHeadLen, which has no port
    for (const auto& [name, call] : calls) {
      cases.push_back({name + p, call, SP_ERR_PARAM, Own(gbk::kBadArgument), {}, nullptr});
    }
  }
  Run(cases);
}

TEST_F(BadInput, NullAddressesAndEmptyLengthsAreRefused) {
  std::uint8_t* h = header;
  std::uint8_t* d = data;
  std::int32_t v = 0;
  std::uint32_t u = 0;
  const Record bad = Own(gbk::kBadArgument);
  Run({
      {"Play_GetPreviewMode null mode",
       [&](ISinglePlayer& q) { return q.Play_GetPreviewMode(kPlaying, nullptr, &u); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_GetPreviewMode null key",
       [&](ISinglePlayer& q) { return q.Play_GetPreviewMode(kPlaying, &v, nullptr); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_OpenStream null header",
       [&](ISinglePlayer& q) { return q.Play_OpenStream(nullptr, kReady, nullptr, 40, 0); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_OpenStream length 0",
       [&](ISinglePlayer& q) { return q.Play_OpenStream(nullptr, kReady, h, 0, 0); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_InputData null data",
       [&](ISinglePlayer& q) { return q.Play_InputData(kPlaying, nullptr, 16, 0); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_InputData length 0",
       [&](ISinglePlayer& q) { return q.Play_InputData(kPlaying, d, 0, 0); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_GetPlayState null",
       [&](ISinglePlayer& q) { return q.Play_GetPlayState(kPlaying, nullptr); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_GetVolume null", [&](ISinglePlayer& q) { return q.Play_GetVolume(kPlaying, nullptr); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_GetPicture null path",
       [&](ISinglePlayer& q) { return q.Play_GetPicture(kPlaying, nullptr); }, SP_ERR_PARAM, bad,
       {}, nullptr},
      {"Play_GetPicture empty path",
       [&](ISinglePlayer& q) { return q.Play_GetPicture(kPlaying, ""); }, SP_ERR_PARAM, bad, {},
       nullptr},
      {"Play_GetHeadLen null", [&](ISinglePlayer& q) { return q.Play_GetHeadLen(nullptr); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_GetPictureSize null width",
       [&](ISinglePlayer& q) { return q.Play_GetPictureSize(kPlaying, nullptr, &v); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_GetPictureSize null height",
       [&](ISinglePlayer& q) { return q.Play_GetPictureSize(kPlaying, &v, nullptr); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_GetPicQuality null",
       [&](ISinglePlayer& q) { return q.Play_GetPicQuality(kPlaying, nullptr); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_GetThrowNum null",
       [&](ISinglePlayer& q) { return q.Play_GetThrowNum(kPlaying, nullptr); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_SetVideoPara null",
       [&](ISinglePlayer& q) { return q.Play_SetVideoPara(kPlaying, nullptr, 1); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_GetVideoPara null",
       [&](ISinglePlayer& q) { return q.Play_GetVideoPara(kPlaying, nullptr); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_SetDispRegion enable with null rectangle",
       [&](ISinglePlayer& q) { return q.Play_SetDispRegion(kPlaying, 1, nullptr); },
       SP_ERR_PARAM, bad, {}, nullptr},
      {"Play_GetDispRegion null",
       [&](ISinglePlayer& q) { return q.Play_GetDispRegion(kPlaying, nullptr); }, SP_ERR_PARAM,
       bad, {}, nullptr},
      {"Play_GetBufferRemainDataSize null",
       [&](ISinglePlayer& q) { return q.Play_GetBufferRemainDataSize(kPlaying, nullptr); },
       SP_ERR_PARAM, bad, {}, nullptr},
      // Disabling reads no rectangle, so a null one is fine.
      {"Play_SetDispRegion disable with null rectangle",
       [&](ISinglePlayer& q) { return q.Play_SetDispRegion(kPlaying, 0, nullptr); }, SP_OK,
       None(), {"VdPlay_SetDisplayRegion"}, nullptr},
  });
}

TEST_F(BadInput, LengthsOfAllOnesArePassedToTheDecoderUnchanged) {
  std::uint8_t* h = header;
  std::uint8_t* d = data;
  Run({
      {"Play_InputData 0xFFFFFFFF",
       [&](ISinglePlayer& q) { return q.Play_InputData(kPlaying, d, 0xFFFFFFFFu, 0); }, SP_OK,
       None(), {"VdPlay_InputData"}, nullptr},
      {"Play_OpenStream 0xFFFFFFFF",
       [&](ISinglePlayer& q) { return q.Play_OpenStream(nullptr, kReady, h, 0xFFFFFFFFu, 0); },
       SP_OK, None(), {"VdPlay_OpenStream", "VdPlay_Play"},
       [](Snapshot& s) { s.ports[kReady].playState = PLAYSTATE_PLAY; }},
  });
  EXPECT_EQ(fake_vdplay::Calls()[0].args[2], 0xFFFFFFFFll);
}

TEST_F(BadInput, CodesAndValuesAtAndPastEveryRangeEnd) {
  auto volume = [](std::int32_t v) {
    return [v](ISinglePlayer& q) { return q.Play_SetVolume(kPlaying, v); };
  };
  auto throwNum = [](std::int32_t v) {
    return [v](ISinglePlayer& q) { return q.Play_ThrowFrame(kPlaying, v); };
  };
  auto openMode = [](std::int32_t v) {
    return [v](ISinglePlayer& q) { return q.Play_SetOpenMode(kReady, v); };
  };
  auto key = [](std::uint32_t v) {
    return [v](ISinglePlayer& q) { return q.Play_SetOverlayMode(kReady, v); };
  };
  auto state = [](std::int32_t port, std::int32_t v) {
    return [port, v](ISinglePlayer& q) { return q.Play_PlayState(port, v); };
  };
  auto para = [](std::int32_t brightness, std::int32_t contrast, std::int32_t restore) {
    return [=](ISinglePlayer& q) {
      SP_VIDEO_PARA p{0, brightness, contrast, 50, 50, 0};
      return q.Play_SetVideoPara(kPlaying, &p, restore);
    };
  };
  const Record bad = Own(gbk::kBadArgument);
  std::vector<Case> cases = {
      {"volume 0", volume(0), SP_OK, None(), {"VdPlay_StopSound"}, nullptr},
      {"volume 100", volume(100), SP_OK, None(), {"VdPlay_PlaySound", "VdPlay_SetVolume"},
       [](Snapshot& s) { s.volume = 100; }},
      {"throw 0", throwNum(0), SP_OK, None(), {"VdPlay_ThrowBFrameNum"}, nullptr},
      {"throw 2", throwNum(2), SP_OK, None(), {"VdPlay_ThrowBFrameNum"},
       [](Snapshot& s) { s.ports[kPlaying].throwBFrameNum = 2; }},
      {"open mode 0", openMode(0), SP_OK, None(), {"VdPlay_SetStreamOpenMode"},
       [](Snapshot& s) { s.ports[kReady].openMode = 0; }},
      {"colour key 0x00FFFFFF", key(0x00FFFFFFu), SP_OK, None(), {"VdPlay_SetOverlayMode"},
       [](Snapshot& s) {
         s.ports[kReady].overlayMode = 1;
         s.colorKey = 0x00FFFFFFu;
       }},
      // On a started port, codes outside 1..9 change nothing and call nothing;
      // so does the state the port already has.
      {"state 1 again", state(kPlaying, 1), SP_OK, None(), {}, nullptr},
      {"brightness 100 contrast 0", para(100, 0, 0), SP_OK, None(), {"VdPlay_SetColor"},
       [](Snapshot& s) {
         s.ports[kPlaying].videoPara.brightness = 100;
         s.ports[kPlaying].videoPara.contrast = 0;
       }},
  };
  for (const std::int32_t v : {-1, 101, INT_MIN, INT_MAX}) {
    const std::string t = std::to_string(v);
    cases.push_back({"volume " + t, volume(v), SP_ERR_PARAM, bad, {}, nullptr});
    cases.push_back({"brightness " + t, para(v, 50, 0), SP_ERR_PARAM, bad, {}, nullptr});
    cases.push_back({"contrast " + t, para(50, v, 0), SP_ERR_PARAM, bad, {}, nullptr});
    cases.push_back({"brightness " + t + " with restore", para(v, 50, 1), SP_ERR_PARAM, bad, {},
                     nullptr});
  }
  for (const std::int32_t v : {-1, 3, INT_MIN, INT_MAX}) {
    cases.push_back({"throw " + std::to_string(v), throwNum(v), SP_ERR_PARAM, bad, {}, nullptr});
  }
  for (const std::int32_t v : {-1, 2, INT_MIN, INT_MAX}) {
    cases.push_back({"open mode " + std::to_string(v), openMode(v), SP_ERR_PARAM, bad, {},
                     nullptr});
  }
  for (const std::uint32_t v : {0x01000000u, 0x80000000u, 0xFFFFFFFFu}) {
    cases.push_back({"colour key " + std::to_string(v), key(v), SP_ERR_PARAM, bad, {}, nullptr});
  }
  for (const std::int32_t v : {0, -1, 10, INT_MIN, INT_MAX}) {
    const std::string t = std::to_string(v);
    cases.push_back({"state " + t + " playing", state(kPlaying, v), SP_OK, None(), {}, nullptr});
    cases.push_back({"state " + t + " not started", state(kReady, v), SP_ERR_ORDER,
                     Own(gbk::kCannotChangeUnstarted), {}, nullptr});
    cases.push_back({"state " + t + " no decoder port", state(kUnassigned, v), SP_ERR_PARAM,
                     Decoder(1, gbk::kInvalidInput, "Play_CloseStream()"), {}, nullptr});
  }
  Run(cases);
}

TEST_F(BadInput, UncheckedColourValuesAreClampedOnTheWayToTheDecoder) {
  Run({{"saturation INT_MAX hue INT_MIN",
        [](ISinglePlayer& q) {
          SP_VIDEO_PARA p{0, 50, 50, INT_MAX, INT_MIN, 0};
          return q.Play_SetVideoPara(kPlaying, &p, 0);
        },
        SP_OK, None(), {"VdPlay_SetColor"},
        [](Snapshot& s) {
          s.ports[kPlaying].videoPara.saturation = INT_MAX;
          s.ports[kPlaying].videoPara.hue = INT_MIN;
        }}});
  const std::vector<std::int64_t> args = fake_vdplay::Calls()[0].args;
  ASSERT_EQ(args.size(), 6u);
  EXPECT_EQ(args[2], 64);
  EXPECT_EQ(args[3], 64);
  EXPECT_EQ(args[4], INT_MAX);
  EXPECT_EQ(args[5], INT_MIN);
}

TEST_F(BadInput, DisplayRegionBoundsBeforeAndAfterThePictureSize) {
  auto region = [](std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    return [=](ISinglePlayer& q) {
      SP_RECT rect{l, t, r, b};
      return q.Play_SetDispRegion(kPlaying, 1, &rect);
    };
  };
  const Record bad = Own(gbk::kBadArgument);
  Run({
      {"1x1 before any picture size", region(0, 0, 1, 1), SP_ERR_PARAM, bad, {}, nullptr},
      {"left -1", region(-1, 0, 0, 0), SP_ERR_PARAM, bad, {}, nullptr},
      {"top -1", region(0, -1, 0, 0), SP_ERR_PARAM, bad, {}, nullptr},
      {"left INT_MIN", region(INT_MIN, 0, 0, 0), SP_ERR_PARAM, bad, {}, nullptr},
      {"empty at the origin", region(0, 0, 0, 0), SP_OK, None(), {"VdPlay_SetDisplayRegion"},
       nullptr},
  });
  std::int32_t w = 0;
  std::int32_t h = 0;
  ASSERT_EQ(player->Play_GetPictureSize(kPlaying, &w, &h), SP_OK);
  ASSERT_EQ(w, 704);
  ASSERT_EQ(h, 576);
  Run({
      {"right 705", region(0, 0, 705, 576), SP_ERR_PARAM, bad, {}, nullptr},
      {"bottom 577", region(0, 0, 704, 577), SP_ERR_PARAM, bad, {}, nullptr},
      {"right INT_MAX", region(0, 0, INT_MAX, 1), SP_ERR_PARAM, bad, {}, nullptr},
      {"the whole picture", region(0, 0, 704, 576), SP_OK, None(), {"VdPlay_SetDisplayRegion"},
       [](Snapshot& s) { s.ports[kPlaying].dispRegion = SP_RECT{0, 0, 704, 576}; }},
  });
}

TEST_F(BadInput, PortsInTheWrongStateOrWithoutADecoderPort) {
  std::uint8_t* h = header;
  std::uint8_t* d = data;
  const Record noPort = Decoder(1, gbk::kInvalidInput, "Play_CloseStream()");
  Run({
      {"open without decoder port",
       [&](ISinglePlayer& q) { return q.Play_OpenStream(nullptr, kUnassigned, h, 40, 0); },
       SP_ERR_PARAM, Decoder(1, gbk::kInvalidInput, "Play_OpenStream()"), {}, nullptr},
      {"input without decoder port",
       [&](ISinglePlayer& q) { return q.Play_InputData(kUnassigned, d, 16, 0); }, SP_ERR_PARAM,
       Decoder(1, gbk::kInvalidInput, "Play_InputData()"), {}, nullptr},
      {"close without decoder port",
       [&](ISinglePlayer& q) { return q.Play_CloseStream(kUnassigned); }, SP_ERR_PARAM, noPort, {},
       nullptr},
      {"capture without decoder port",
       [&](ISinglePlayer& q) { return q.Play_GetPicture(kUnassigned, "x.bmp"); }, SP_ERR_PARAM,
       noPort, {}, nullptr},
      {"volume without decoder port",
       [&](ISinglePlayer& q) { return q.Play_SetVolume(kUnassigned, 50); }, SP_ERR_PARAM, noPort,
       {}, nullptr},
      {"input before open", [&](ISinglePlayer& q) { return q.Play_InputData(kReady, d, 16, 0); },
       SP_ERR_ORDER, Own(gbk::kInputToClosedPort), {}, nullptr},
      {"close before open", [&](ISinglePlayer& q) { return q.Play_CloseStream(kReady); },
       SP_ERR_ORDER, Own(gbk::kCannotStopUnstarted), {}, nullptr},
  });
}

TEST_F(BadInput, TheThirtyThirdHostPortGetsNoDecoderPort) {
  for (std::int32_t port = 3; port < 33; ++port) ASSERT_EQ(player->Play_SetOpenMode(port, 0), SP_OK);
  Run({
      {"overlay mode on a 33rd port",
       [](ISinglePlayer& q) { return q.Play_SetOverlayMode(100, 0); }, SP_ERR_PARAM,
       Decoder(1, gbk::kInvalidInput, "Play_SetOverlayMode()"), {}, nullptr},
      {"open mode on a 33rd port", [](ISinglePlayer& q) { return q.Play_SetOpenMode(INT_MAX, 0); },
       SP_ERR_PARAM, Own(gbk::kBadArgument), {}, nullptr},
      {"open mode on a 33rd port", [](ISinglePlayer& q) { return q.Play_SetOpenMode(127, 0); },
       SP_ERR_PARAM, Decoder(1, gbk::kInvalidInput, "Play_SetOpenMode()"), {}, nullptr},
  });
}

TEST_F(BadInput, InitWithoutASystemFolderAndExitChangeNothing) {
  Run({
      {"Play_Init without a system folder",
       [](ISinglePlayer& q) {
         sp::platform::testing::OverrideSystemDirectory(std::nullopt);
         const std::int32_t r = q.Play_Init(INT_MIN);
         return r;
       },
       SP_ERR_INIT, None(), {}, nullptr},
      {"Play_Exit", [](ISinglePlayer& q) { return q.Play_Exit(); }, SP_OK, None(), {}, nullptr},
  });
  sandbox.Apply();
  // The logs were not moved: this record still lands in the sandbox.
  EXPECT_EQ(player->Play_SetVolume(-1, 0), SP_ERR_PARAM);
  EXPECT_EQ(sp_test::ReadErrorRecords(sandbox.ErrorLog()).size(), 1u);
  EXPECT_EQ(Impl().HostValue(), 0);
}

}  // namespace
