// Real H.264 and H.265 through the player and the stand-in, with clips made
// at test time: CIF, 720p and 1080p with B-pictures in the player's pools,
// streams several times larger than the pool, a snapshot compared with
// FFmpeg's own decode of the same picture, and stepping through B-pictures.
#include <algorithm>
#include <cmath>

#include "support/Bitmaps.h"
#include "support/CodecClips.h"
#include "support/PlayerOverDecoderFixture.h"
#include "support/Waiting.h"

namespace sp_test {
namespace {

using sp_test::Clip;
using sp_test::ClipRecipe;

constexpr std::uint32_t kPoolMode0 = 512000;

class PlayerCodec : public PlayerOverDecoder {
 protected:
  void OpenClip(const Clip& clip, vdstream::Framing framing, std::uint32_t fps) {
    ASSERT_EQ(player->Play_SetOpenMode(kPort, 0), SP_OK);
    Bytes header = clip.Header(framing, fps);
    ASSERT_EQ(player->Play_OpenStream(nullptr, kPort, header.data(),
                                      static_cast<std::uint32_t>(header.size()), 0),
              SP_OK);
  }

  // Feeds the data in blocks as a host reading a file would, waiting while
  // the block would not fit into the decoder's buffer.
  void FeedAll(const Bytes& data, std::size_t block = 32768) {
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t n = std::min(block, data.size() - at);
      std::uint32_t waiting = 0;
      ASSERT_EQ(player->Play_GetBufferRemainDataSize(kPort, &waiting), SP_OK);
      if (waiting + n > kPoolMode0) {
        SleepMs(5);
        continue;
      }
      Bytes piece(data.begin() + static_cast<std::ptrdiff_t>(at),
                  data.begin() + static_cast<std::ptrdiff_t>(at + n));
      ASSERT_EQ(Input(piece), SP_OK) << "at " << at;
      at += n;
    }
  }
};

// PSNR of a snapshot against an I420 picture converted to RGB on our own.
double SnapshotPsnr(const Bitmap& bmp, const Bytes& i420) {
  double sum = 0;
  for (int y = 0; y < bmp.height; ++y) {
    for (int x = 0; x < bmp.width; ++x) {
      std::uint8_t want[3];
      ExpectedRgb(i420, bmp.width, bmp.height, x, y, want);
      for (int ch = 0; ch < 3; ++ch) {
        const double d = static_cast<double>(bmp.At(x, y)[ch]) - want[ch];
        sum += d * d;
      }
    }
  }
  const double samples = 3.0 * bmp.width * bmp.height;
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * samples / sum);
}

TEST_F(PlayerCodec, H264WithBFramesAtCif720pAnd1080pShowsEveryPicture) {
  Init(0);
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{352, 288}, {1280, 720}, {1920, 1080}};
  for (const auto& size : sizes) {
    ClipRecipe recipe;
    recipe.width = size.first;
    recipe.height = size.second;
    recipe.frames = 40;
    recipe.gop = 20;
    recipe.quality = "16";  // large pictures: the 1080p stream is several pools long
    const Clip& clip = sp_test::MakeClip(recipe);
    ASSERT_FALSE(clip.units.empty());
    if (size.second == 1080) {
      EXPECT_GT(clip.TotalBytes(), 3 * kPoolMode0) << "several pools long";
    }
    OpenClip(clip, vdstream::Framing::Packets, 50);
    FeedAll(clip.Packets());
    EXPECT_TRUE(WaitFor([&] { return Shown() == clip.units.size(); }, std::chrono::seconds(10)))
        << size.second << "p: " << Shown() << " of " << clip.units.size();
    EXPECT_EQ(OpenStreamStats().packetsDamaged, 0u);
    std::int32_t w = 0, h = 0;
    EXPECT_EQ(player->Play_GetPictureSize(kPort, &w, &h), SP_OK);
    EXPECT_EQ(w * 10000 + h, static_cast<std::int32_t>(size.first * 10000 + size.second));
    ASSERT_EQ(player->Play_CloseStream(kPort), SP_OK);
  }
}

TEST_F(PlayerCodec, SnapshotWhilePausedMatchesFfmpegsOwnDecode) {
  Init(0);
  ClipRecipe recipe;
  recipe.width = 1280;
  recipe.height = 720;
  recipe.frames = 40;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  OpenClip(clip, vdstream::Framing::Packets, 25);
  FeedAll(clip.Packets());
  ASSERT_TRUE(WaitFor([&] { return Shown() >= 12; }));
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  SleepMs(150);
  const std::uint32_t shown = Shown();

  const std::string path = TempFile("720p.bmp");
  ASSERT_EQ(player->Play_GetPicture(kPort, path.c_str()), SP_OK);
  Bitmap bmp;
  ASSERT_TRUE(ReadBitmap(path, bmp));
  ASSERT_EQ(bmp.width * 10000 + bmp.height, 1280 * 10000 + 720);
  const double db = SnapshotPsnr(bmp, clip.reference[shown - 1]);
  EXPECT_GE(db, 40) << "picture " << shown - 1;
  // The neighbours differ: the snapshot really is that picture.
  EXPECT_LT(SnapshotPsnr(bmp, clip.reference[shown - 3]), db);
}

TEST_F(PlayerCodec, H265BareStreamShowsEveryPicture) {
  Init(0);
  ClipRecipe recipe;
  recipe.codec = vdstream::Codec::H265;
  recipe.frames = 30;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  OpenClip(clip, vdstream::Framing::AnnexB, 50);
  FeedAll(clip.AnnexB(), 4096);
  // The last pictures come out when no data has followed for a second.
  EXPECT_TRUE(WaitFor([&] { return Shown() == clip.units.size(); }, std::chrono::seconds(6)))
      << Shown() << " of " << clip.units.size();
  EXPECT_EQ(OpenStreamStats().packetsDamaged, 0u);
}

}  // namespace
}  // namespace sp_test

namespace sp_test {
namespace {

TEST_F(PlayerCodec, SteppingThroughBPicturesShowsOnePicturePerRequest) {
  Init(0);
  ClipRecipe recipe;
  recipe.frames = 30;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  OpenClip(clip, vdstream::Framing::Packets, 25);
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  const auto type = vdstream::Payload::H264;
  std::size_t next = 0;
  auto feedOne = [&] {
    const Bytes packet = vdstream::makePacket(clip.units[next].data.data(),
                                              clip.units[next].data.size(),
                                              clip.units[next].ptsMs, type);
    const std::int32_t result = Input(packet);
    if (result == SP_OK) ++next;  // a refused block is offered again after the next step
    return result;
  };
  for (int i = 0; i < 6; ++i) ASSERT_EQ(feedOne(), SP_OK);
  for (std::uint32_t step = 1; step <= 12; ++step) {
    ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_ONE_BY_ONE), SP_OK);
    ASSERT_TRUE(WaitFor([&] { return Shown() == step; })) << "step " << step;
    // A host feeds what the player lets in, one block per step.
    feedOne();
  }
  SleepMs(150);
  EXPECT_EQ(Shown(), 12u);
  EXPECT_EQ(OpenStreamStats().packetsDamaged, 0u) << "every unit reached the decoder in order";
}

}  // namespace
}  // namespace sp_test
