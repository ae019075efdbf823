// Bad input that only the decoder itself can judge, through the stand-in
// VdPlay library: stream headers that claim a huge picture, lengths of all
// ones, and values the player passes on unchecked. Each gives the decoder's
// refusal as its defined result and error record, and leaves the port as it
// was.
#include <gtest/gtest.h>

#include <SinglePlayer.h>
#include <VdPlay.h>
#include <VdStreamFormat.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "support/GbkTexts.h"
#include "support/LogRecords.h"
#include "support/Sandbox.h"

namespace {

namespace gbk = sp_test::gbk;

constexpr std::int32_t kPort = 9;

class BadInputThroughTheDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox.Configure(0);
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->Play_Init(0), SP_OK);
    ASSERT_EQ(player->Play_SetOpenMode(kPort, 0), SP_OK);
  }
  void TearDown() override {
    std::int32_t state = 0;
    player->Play_GetPlayState(kPort, &state);
    if (state != PLAYSTATE_NOT_STARTED) player->Play_CloseStream(kPort);
    ReleaseSinglePlayerDll(player);
  }

  // The one error record written since the last call, checked.
  void ExpectOneRecord(int code, const std::string& message, const std::string& context) {
    const std::vector<sp_test::ErrorRecord> errors =
        sp_test::ReadErrorRecords(sandbox.ErrorLog());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, code);
    EXPECT_EQ(errors[0].message, message);
    EXPECT_EQ(errors[0].context, context);
    std::filesystem::remove(sandbox.ErrorLog());
  }
  void ExpectNoRecord() { EXPECT_FALSE(sp_test::Exists(sandbox.ErrorLog())); }

  std::int32_t State() {
    std::int32_t state = -1;
    EXPECT_EQ(player->Play_GetPlayState(kPort, &state), SP_OK);
    return state;
  }

  void Open() {
    ASSERT_EQ(player->Play_OpenStream(nullptr, kPort, small.data(),
                                      static_cast<std::uint32_t>(small.size()), 0),
              SP_OK);
  }

  sp_test::Sandbox sandbox;
  ISinglePlayer* player = nullptr;
  std::vector<std::uint8_t> small = vdstream::makeFileHeader(32, 16, 25, 1);
};

TEST_F(BadInputThroughTheDecoder, HeadersThatClaimAHugePicture) {
  struct Header {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::int32_t openMode;
    std::int32_t result;
    int code;
    const std::string* message;
  };
  const std::vector<Header> headers = {
      // The largest picture the format allows needs a pool of about 25 MB:
      // neither of the player's pools can hold one packet of it.
      {"4096 x 4096, open mode 0", vdstream::makeFileHeader(4096, 4096, 25, 1), 0, 2, 1,
       &gbk::kInvalidInput},
      {"4096 x 4096, open mode 1", vdstream::makeFileHeader(4096, 4096, 25, 1), 1, 2, 1,
       &gbk::kInvalidInput},
      {"width 0xFFFFFFFE", vdstream::makeFileHeader(0xFFFFFFFEu, 2, 25, 1), 0, 21, 20,
       &gbk::kUnrecognisedStream},
      {"height 0x80000000", vdstream::makeFileHeader(2, 0x80000000u, 25, 1), 0, 21, 20,
       &gbk::kUnrecognisedStream},
      {"4098 x 4096", vdstream::makeFileHeader(4098, 4096, 25, 1), 0, 21, 20,
       &gbk::kUnrecognisedStream},
  };
  for (const Header& h : headers) {
    SCOPED_TRACE(h.name);
    ASSERT_EQ(player->Play_SetOpenMode(kPort, h.openMode), SP_OK);
    std::vector<std::uint8_t> bytes = h.bytes;
    EXPECT_EQ(player->Play_OpenStream(nullptr, kPort, bytes.data(),
                                      static_cast<std::uint32_t>(bytes.size()), 0),
              h.result);
    ExpectOneRecord(h.code, *h.message, "VdPlay_OpenStream()");
    EXPECT_EQ(State(), PLAYSTATE_NOT_STARTED);
    // Nothing was left open in the decoder: a good header opens at once.
    ASSERT_EQ(player->Play_SetOpenMode(kPort, 0), SP_OK);
    Open();
    ExpectNoRecord();
    ASSERT_EQ(player->Play_CloseStream(kPort), SP_OK);
  }
}

TEST_F(BadInputThroughTheDecoder, LengthsOfAllOnes) {
  // The decoder reads the 40 header bytes it needs, whatever the length says.
  EXPECT_EQ(player->Play_OpenStream(nullptr, kPort, small.data(), 0xFFFFFFFFu, 0), SP_OK);
  ExpectNoRecord();
  EXPECT_EQ(State(), PLAYSTATE_PLAY);
  // Data that can never fit: ten refusals, then the buffer-full result.
  std::uint8_t data[64] = {};
  EXPECT_EQ(player->Play_InputData(kPort, data, 0xFFFFFFFFu, 0), 12);
  ExpectOneRecord(11, gbk::kBufferFull, "VdPlay_InputData()");
  std::uint32_t waiting = 1;
  EXPECT_EQ(player->Play_GetBufferRemainDataSize(kPort, &waiting), SP_OK);
  EXPECT_EQ(waiting, 0u);
}

TEST_F(BadInputThroughTheDecoder, ValuesThePlayerPassesOnUnchecked) {
  Open();
  SP_VIDEO_PARA para{0, 50, 50, INT_MAX, 50, 0};
  EXPECT_EQ(player->Play_SetVideoPara(kPort, &para, 0), 2);
  ExpectOneRecord(1, gbk::kInvalidInput, "VdPlay_SetColor()");
  SP_VIDEO_PARA cached{};
  EXPECT_EQ(player->Play_GetVideoPara(kPort, &cached), SP_OK);
  EXPECT_EQ(cached.saturation, 50);

  // An empty region lies inside a zero picture rectangle, so the player
  // passes it on; the decoder refuses it.
  SP_RECT empty{0, 0, 0, 0};
  EXPECT_EQ(player->Play_SetDispRegion(kPort, 1, &empty), 2);
  ExpectOneRecord(1, gbk::kInvalidInput, "VdPlay_SetDisplayRegion(TRUE)");
  SP_RECT region{1, 1, 1, 1};
  EXPECT_EQ(player->Play_GetDispRegion(kPort, &region), SP_OK);
  EXPECT_EQ(region.right, 0);

  EXPECT_EQ(player->Play_SetPicQuality(kPort, INT_MIN), SP_OK);
  EXPECT_EQ(player->Play_SetPicQuality(kPort, INT_MAX), SP_OK);
  ExpectNoRecord();
}

}  // namespace
