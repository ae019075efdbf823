// Audio, picture and display settings, and the null-address checks of every
// operation that reads or writes through an address.
#include <functional>

#include "support/PlayerTestFixture.h"

namespace sp_test {
namespace {

using fake_vdplay::CallNames;
using fake_vdplay::CountCalls;
using fake_vdplay::FailCalls;

class SettingsTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    Init(1);
    Playing(30);  // decoder port 0
  }
  Args VideoPara(int32_t port) {
    SP_VIDEO_PARA p = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(player->Play_GetVideoPara(port, &p), SP_OK);
    return {p.reserved0, p.brightness, p.contrast, p.saturation, p.hue, p.reserved5};
  }
  Args DispRegion(int32_t port) {
    SP_RECT r = {-1, -1, -1, -1};
    EXPECT_EQ(player->Play_GetDispRegion(port, &r), SP_OK);
    return {r.left, r.top, r.right, r.bottom};
  }
  int32_t Volume(int32_t port) {
    int32_t volume = -1;
    EXPECT_EQ(player->Play_GetVolume(port, &volume), SP_OK);
    return volume;
  }
};

TEST_F(SettingsTest, VolumeIsConvertedTruncatedAndSharedByAllPorts) {
  const std::pair<int32_t, int64_t> cases[] = {{1, 655}, {50, 32767}, {99, 64879}, {100, 65535}};
  for (const auto& c : cases) {
    fake_vdplay::ClearCalls();
    ASSERT_EQ(player->Play_SetVolume(30, c.first), SP_OK);
    EXPECT_EQ(CallNames(), Names({"VdPlay_PlaySound", "VdPlay_SetVolume"}));
    EXPECT_EQ(CallArgs(0), Args({0}));
    EXPECT_EQ(CallArgs(1), Args({0, c.second})) << c.first;
    EXPECT_EQ(Volume(7), c.first);
  }
  fake_vdplay::ClearCalls();
  ASSERT_EQ(player->Play_SetVolume(30, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_StopSound"), Args{});
  EXPECT_EQ(CallNames().size(), 1u);
  EXPECT_EQ(Volume(127), 0);

  ASSERT_EQ(player->Play_SetVolume(30, 40), SP_OK);
  fake_vdplay::ClearCalls();
  EXPECT_EQ(player->Play_SetVolume(30, 101), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_SetVolume(30, -1), SP_ERR_PARAM);
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ(Volume(30), 40);
}

TEST_F(SettingsTest, AFailedVolumeCallKeepsTheOldVolume) {
  ASSERT_EQ(player->Play_SetVolume(30, 40), SP_OK);
  Forget();
  FailCalls("VdPlay_SetVolume", 13, 1);
  EXPECT_EQ(player->Play_SetVolume(30, 60), 14);
  ExpectOnlyError(13, "\xc9\xe8\xd6\xc3\xd2\xf4\xc1\xbf\xca\xa7\xb0\xdc", "VdPlay_SetVolume()");
  EXPECT_EQ(CountCalls("VdPlay_PlaySound"), 1u);  // not undone
  EXPECT_EQ(Volume(30), 40);
}

TEST_F(SettingsTest, ColourValuesAreConvertedTruncatedTowardZero) {
  struct Case {
    SP_VIDEO_PARA in;
    Args decoder;
  };
  const Case cases[] = {
      {{0, 0, 1, 50, 99, 0}, {0, 0, 0, 1, 64, 126}},
      {{0, 100, 100, 200, -10, 0}, {0, 0, 128, 128, 256, -12}},
      {{5, 33, 67, 3, 100, 9}, {0, 0, 42, 85, 3, 128}},
  };
  for (const Case& c : cases) {
    SP_VIDEO_PARA para = c.in;
    fake_vdplay::ClearCalls();
    ASSERT_EQ(player->Play_SetVideoPara(30, &para, 0), SP_OK);
    EXPECT_EQ(OnlyCallArgs("VdPlay_SetColor"), c.decoder);
    // Elements 0 and 5 are never taken over.
    EXPECT_EQ(VideoPara(30), Args({0, c.in.brightness, c.in.contrast, c.in.saturation, c.in.hue, 0}));
  }
}

TEST_F(SettingsTest, BrightnessAndContrastAreCheckedEvenWhenRestoringDefaults) {
  SP_VIDEO_PARA good = {0, 20, 30, 40, 60, 0};
  ASSERT_EQ(player->Play_SetVideoPara(30, &good, 0), SP_OK);
  Forget();
  const SP_VIDEO_PARA rejected[] = {
      {0, 101, 50, 50, 50, 0}, {0, -1, 50, 50, 50, 0}, {0, 50, 101, 50, 50, 0}};
  for (SP_VIDEO_PARA para : rejected) {
    for (int32_t restore : {0, 1}) {
      SP_VIDEO_PARA copy = para;
      EXPECT_EQ(player->Play_SetVideoPara(30, &copy, restore), SP_ERR_PARAM);
      EXPECT_EQ(copy.brightness, para.brightness);
    }
  }
  EXPECT_EQ(Errors().size(), 6u);
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ(VideoPara(30), Args({0, 20, 30, 40, 60, 0}));
}

TEST_F(SettingsTest, RestoringDefaultsSendsTheNeutralValuesAndRewritesTheCallersRecord) {
  SP_VIDEO_PARA para = {0, 10, 20, 300, -40, 0};
  ASSERT_EQ(player->Play_SetVideoPara(30, &para, 1), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetColor"), Args({0, 0, 64, 64, 64, 64}));
  EXPECT_EQ(Args({para.brightness, para.contrast, para.saturation, para.hue}),
            Args({50, 50, 50, 50}));
  EXPECT_EQ(VideoPara(30), Args({0, 50, 50, 50, 50, 0}));

  SP_VIDEO_PARA other = {0, 70, 70, 70, 70, 0};
  FailCalls("VdPlay_SetColor", 22, 1);
  EXPECT_EQ(player->Play_SetVideoPara(30, &other, 0), 23);
  ExpectOnlyError(22, "\xce\xbb\xbf\xbd\xb1\xb4\xca\xa7\xb0\xdc", "VdPlay_SetColor()");
  EXPECT_EQ(VideoPara(30), Args({0, 50, 50, 50, 50, 0}));
}

TEST_F(SettingsTest, DisplayRegionMustLieInsideTheLastPictureSize) {
  SP_RECT region = {0, 0, 100, 100};
  EXPECT_EQ(player->Play_SetDispRegion(30, 1, &region), SP_ERR_PARAM);
  ExpectOnlyError(0, gbk::kBadArgument);
  SP_RECT empty = {0, 0, 0, 0};
  EXPECT_EQ(player->Play_SetDispRegion(30, 1, &empty), SP_OK);  // right and bottom 0 fit

  int32_t width = 0, height = 0;
  ASSERT_EQ(player->Play_GetPictureSize(30, &width, &height), SP_OK);
  EXPECT_EQ(width, 704);
  EXPECT_EQ(height, 576);
  fake_vdplay::ClearCalls();
  ASSERT_EQ(player->Play_SetDispRegion(30, 1, &region), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetDisplayRegion"), Args({0, 0, 1, 0, 0, 100, 100, 0, 1}));
  EXPECT_EQ(DispRegion(30), Args({0, 0, 100, 100}));

  const SP_RECT outside[] = {{0, -1, 10, 10}, {-1, 0, 10, 10}, {0, 0, 705, 10}, {0, 0, 10, 577}};
  for (SP_RECT r : outside) EXPECT_EQ(player->Play_SetDispRegion(30, 1, &r), SP_ERR_PARAM);
  SP_RECT edge = {600, 500, 704, 576};
  EXPECT_EQ(player->Play_SetDispRegion(30, 1, &edge), SP_OK);
  SP_RECT inverted = {50, 60, 10, 20};  // left < right is not required
  EXPECT_EQ(player->Play_SetDispRegion(30, 1, &inverted), SP_OK);
  EXPECT_EQ(DispRegion(30), Args({50, 60, 10, 20}));

  fake_vdplay::ClearCalls();
  EXPECT_EQ(player->Play_SetDispRegion(30, 0, nullptr), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetDisplayRegion"), Args({0, 0, 0, 0, 0}));
  EXPECT_EQ(DispRegion(30), Args({0, 0, 0, 0}));
}

TEST_F(SettingsTest, PictureSizeFallsBackToCifWhenTheDecoderCannotAnswer) {
  fake_vdplay::SetPictureSize(320, 240);
  int32_t width = 0, height = 0;
  ASSERT_EQ(player->Play_GetPictureSize(30, &width, &height), SP_OK);
  FailCalls("VdPlay_GetPictureSize", 15, 1);
  EXPECT_EQ(player->Play_GetPictureSize(30, &width, &height), 16);
  EXPECT_EQ(width, 352);
  EXPECT_EQ(height, 288);
  // The picture rectangle keeps the last answer: 320 by 240.
  SP_RECT region = {0, 0, 321, 240};
  EXPECT_EQ(player->Play_SetDispRegion(30, 1, &region), SP_ERR_PARAM);
  region.right = 320;
  EXPECT_EQ(player->Play_SetDispRegion(30, 1, &region), SP_OK);
}

TEST_F(SettingsTest, ThrowFrameChecksItsNumberButToleratesTheDecoder) {
  EXPECT_EQ(player->Play_ThrowFrame(30, 3), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_ThrowFrame(30, -1), SP_ERR_PARAM);
  EXPECT_EQ(CountCalls("VdPlay_ThrowBFrameNum"), 0u);
  Forget();
  FailCalls("VdPlay_ThrowBFrameNum", 2);
  EXPECT_EQ(player->Play_ThrowFrame(30, 2), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_ThrowBFrameNum"), Args({0, 2}));
  EXPECT_TRUE(Errors().empty());  // level 1: the refusal is not logged
  int32_t number = -1;
  ASSERT_EQ(player->Play_GetThrowNum(30, &number), SP_OK);
  EXPECT_EQ(number, 2);

  Recreate(2);
  Playing(30);
  FailCalls("VdPlay_ThrowBFrameNum", 2);
  EXPECT_EQ(player->Play_ThrowFrame(30, 1), SP_OK);
  ExpectOnlyError(2, gbk::kWrongOrder, "VdPlay_ThrowBFrameNum()");
  ASSERT_EQ(player->Play_GetThrowNum(30, &number), SP_OK);
  EXPECT_EQ(number, 1);
}

TEST_F(SettingsTest, QueriesPassTheDecodersAnswersOn) {
  fake_vdplay::SetFileHeadLength(58);
  fake_vdplay::SetSourceBufferRemain(4096);
  uint32_t length = 0, remain = 0;
  EXPECT_EQ(player->Play_GetHeadLen(&length), SP_OK);
  EXPECT_EQ(length, 58u);
  EXPECT_EQ(OnlyCallArgs("VdPlay_GetFileHeadLength"), Args{});
  EXPECT_EQ(player->Play_GetBufferRemainDataSize(30, &remain), SP_OK);
  EXPECT_EQ(remain, 4096u);
  EXPECT_EQ(OnlyCallArgs("VdPlay_GetSourceBufferRemain"), Args({0}));
  ASSERT_EQ(player->Play_SetPicQuality(30, 1), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetPicQuality"), Args({0, 1}));
  int32_t quality = -1;
  ASSERT_EQ(player->Play_GetPicQuality(30, &quality), SP_OK);
  EXPECT_EQ(quality, 1);
}

// Every decoder call of the settings fails the same way: the port's last
// error goes to the decoder error report, and its result is returned.
TEST_F(SettingsTest, DecoderFailuresReturnTheReportedResult) {
  static SP_VIDEO_PARA para = {0, 50, 50, 50, 50, 0};
  static SP_RECT rect = {0, 0, 0, 0};
  struct Case {
    const char* function;
    const char* context;
    std::function<int32_t(ISinglePlayer*)> call;
  };
  const Case cases[] = {
      {"VdPlay_StopSound", "VdPlay_StopSound()", [](ISinglePlayer* p) { return p->Play_SetVolume(30, 0); }},
      {"VdPlay_PlaySound", "VdPlay_PlaySound()", [](ISinglePlayer* p) { return p->Play_SetVolume(30, 9); }},
      {"VdPlay_RefreshPlay", "VdPlay_RefreshPlay()", [](ISinglePlayer* p) { return p->Play_RefreshPlay(30); }},
      {"VdPlay_SetPicQuality", "VdPlay_SetPicQuality()",
       [](ISinglePlayer* p) { return p->Play_SetPicQuality(30, 0); }},
      {"VdPlay_SetDisplayRegion", "VdPlay_SetDisplayRegion(TRUE)",
       [](ISinglePlayer* p) { return p->Play_SetDispRegion(30, 1, &rect); }},
      {"VdPlay_SetDisplayRegion", "VdPlay_SetDisplayRegion(FALSE)",
       [](ISinglePlayer* p) { return p->Play_SetDispRegion(30, 0, &rect); }},
      {"VdPlay_ResetSourceBuffer", "VdPlay_ResetSourceBuffer()",
       [](ISinglePlayer* p) { return p->Play_ClearBuffer(30); }},
      {"VdPlay_SetColor", "VdPlay_SetColor()",
       [](ISinglePlayer* p) { return p->Play_SetVideoPara(30, &para, 0); }},
  };
  const std::pair<uint32_t, int32_t> codes[] = {{1, 2}, {23, 24}, {0, 26}, {24, 26}};
  for (const Case& c : cases) {
    for (const auto& code : codes) {
      Forget();
      FailCalls(c.function, code.first, 1);
      EXPECT_EQ(c.call(player), code.second) << c.context;
      const std::vector<sp_test::ErrorRecord> errors = Errors();
      ASSERT_EQ(errors.size(), 1u) << c.context;
      EXPECT_EQ(errors[0].code, static_cast<int>(code.first));
      EXPECT_EQ(errors[0].context, c.context);
      const Names names = CallNames();
      EXPECT_TRUE(!names.empty() && names.back() == "VdPlay_GetLastError") << c.context;
    }
  }
}

// Every address an operation reads or writes is checked: a null one is
// refused before the decoder is asked anything.
TEST_F(SettingsTest, NullAddressesAreRefusedWithoutADecoderCall) {
  int32_t i = 0;
  uint32_t u = 0;
  const std::function<int32_t(ISinglePlayer*)> calls[] = {
      [&](ISinglePlayer* p) { return p->Play_GetPreviewMode(30, nullptr, &u); },
      [&](ISinglePlayer* p) { return p->Play_GetPreviewMode(30, &i, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetPlayState(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetVolume(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetPicture(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetPicture(30, ""); },
      [&](ISinglePlayer* p) { return p->Play_GetHeadLen(nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetPictureSize(30, nullptr, &i); },
      [&](ISinglePlayer* p) { return p->Play_GetPictureSize(30, &i, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetPicQuality(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetThrowNum(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_SetVideoPara(30, nullptr, 1); },
      [&](ISinglePlayer* p) { return p->Play_GetVideoPara(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_SetDispRegion(30, 1, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetDispRegion(30, nullptr); },
      [&](ISinglePlayer* p) { return p->Play_GetBufferRemainDataSize(30, nullptr); },
  };
  int index = 0;
  for (const auto& call : calls) {
    Forget();
    EXPECT_EQ(call(player), SP_ERR_PARAM) << "case " << index;
    ExpectOnlyError(0, gbk::kBadArgument);
    EXPECT_TRUE(CallNames().empty()) << "case " << index;
    ++index;
  }
  EXPECT_EQ(Impl().CapturePath(), "");
  EXPECT_EQ(VideoPara(30), Args({0, 50, 50, 50, 50, 0}));
}

}  // namespace
}  // namespace sp_test
