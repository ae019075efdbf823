// The Annex-B access-unit splitter and the H.264/H.265 header reader of the
// Windows decoder on real clips made with the ffmpeg command: cut as
// libavformat cuts them (in pieces of any size), key flags, picture sizes,
// B-pictures, and the BT.601 parameter sets (natively FFmpeg decodes them to
// the same pictures). A program of its own: natively it loads FFmpeg.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decode/annexb_splitter.h"
#include "decode/h26x_headers.h"
#include "support/CodecClips.h"
#if !defined(_WIN32)
extern "C" {
#include <libavcodec/avcodec.h>
}
#endif

using namespace vdplay;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Every unit the splitter gives out for the stream pushed in pieces of the
// given sizes (cycled), then end().
std::vector<Bytes> split(VideoCodec codec, const Bytes& stream, const std::vector<std::size_t>& pieces) {
  AnnexBSplitter s(codec);
  std::vector<Bytes> units;
  auto take = [&] {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    while (s.next(data, size)) units.emplace_back(data, data + size);
  };
  std::size_t at = 0, k = 0;
  while (at < stream.size()) {
    const std::size_t n = std::min(pieces[k++ % pieces.size()], stream.size() - at);
    s.push(stream.data() + at, n);
    at += n;
    take();
  }
  s.end();
  take();
  EXPECT_FALSE(s.holds());
  return units;
}

}  // namespace

namespace {

// A zero byte between two NAL units may end the one (trailing_zero_8bits) or
// begin the other (a four-byte start code): units compare without them.
Bytes withoutOuterZeros(const Bytes& unit) {
  std::size_t begin = 0, end = unit.size();
  while (begin < end && unit[begin] == 0) ++begin;
  while (end > begin && unit[end - 1] == 0) --end;
  return Bytes(unit.begin() + static_cast<std::ptrdiff_t>(begin),
               unit.begin() + static_cast<std::ptrdiff_t>(end));
}

void expectSplitLikeLibavformat(const sp_test::Clip& clip, VideoCodec codec) {
  ASSERT_FALSE(clip.units.empty());
  const Bytes stream = clip.AnnexB();
  std::mt19937 random(7);
  std::vector<std::size_t> pieces;
  for (int i = 0; i < 64; ++i) pieces.push_back(1 + random() % 3000);
  for (const std::vector<std::size_t>& p : {std::vector<std::size_t>{777}, pieces,
                                            std::vector<std::size_t>{stream.size()}}) {
    const std::vector<Bytes> units = split(codec, stream, p);
    ASSERT_EQ(units.size(), clip.units.size());
    for (std::size_t i = 0; i < units.size(); ++i)
      ASSERT_EQ(withoutOuterZeros(units[i]), withoutOuterZeros(clip.units[i].data)) << "unit " << i;
  }
}

}  // namespace

TEST(AnnexBSplitterOnClips, H264WithBFramesSplitsAsLibavformatCutsIt) {
  sp_test::ClipRecipe recipe;
  recipe.frames = 30;
  const sp_test::Clip& clip = sp_test::MakeClip(recipe);
  expectSplitLikeLibavformat(clip, VideoCodec::H264);
  H26xHeaders headers(VideoCodec::H264);
  std::size_t bPictures = 0;
  for (const sp_test::AccessUnit& unit : clip.units) {
    const UnitInfo info = headers.inspect(unit.data.data(), unit.data.size());
    EXPECT_TRUE(info.hasSlice);
    EXPECT_EQ(info.key, unit.key);
    EXPECT_EQ(info.window.width, 352u);
    EXPECT_EQ(info.window.height, 288u);
    bPictures += info.bPicture;
  }
  EXPECT_GT(bPictures, clip.units.size() / 3);
}

TEST(AnnexBSplitterOnClips, H264CroppedSizeComesFromTheSequenceParameterSet) {
  sp_test::ClipRecipe recipe;
  recipe.width = 640;
  recipe.height = 360;
  recipe.frames = 5;
  recipe.decodeReference = false;
  const sp_test::Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  H26xHeaders headers(VideoCodec::H264);
  const UnitInfo info = headers.inspect(clip.units[0].data.data(), clip.units[0].data.size());
  EXPECT_EQ(info.window.codedHeight, 368u);
  EXPECT_EQ(info.window.width * 10000 + info.window.height, 640u * 10000 + 360u);
}

TEST(AnnexBSplitterOnClips, H265WithOpenGopsSplitsAsLibavformatCutsIt) {
  sp_test::ClipRecipe recipe;
  recipe.codec = vdstream::Codec::H265;
  recipe.width = 320;
  recipe.height = 180;
  recipe.frames = 30;
  recipe.openGop = true;
  recipe.gop = 10;
  recipe.decodeReference = false;
  const sp_test::Clip& clip = sp_test::MakeClip(recipe);
  expectSplitLikeLibavformat(clip, VideoCodec::H265);
  H26xHeaders headers(VideoCodec::H265);
  std::size_t bPictures = 0;
  for (const sp_test::AccessUnit& unit : clip.units) {
    const UnitInfo info = headers.inspect(unit.data.data(), unit.data.size());
    EXPECT_EQ(info.key, unit.key);
    EXPECT_EQ(info.window.width * 10000 + info.window.height, 320u * 10000 + 180u);
    bPictures += info.bPicture;
  }
  EXPECT_GT(bPictures, 0u);
}

TEST(Bt601Colour, ParameterSetsSayBt601AndNothingElseChanges) {
  sp_test::ClipRecipe recipe;
  recipe.width = 1280;
  recipe.height = 720;
  recipe.frames = 3;
  recipe.decodeReference = false;
  const sp_test::Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  Bytes rewritten;
  ASSERT_TRUE(withBt601Colour(clip.units[0].data.data(), clip.units[0].data.size(), rewritten));
  EXPECT_GT(rewritten.size(), clip.units[0].data.size()) << "the SPS gained its colour description";
  // Already BT.601: nothing to change; a unit without an SPS neither.
  Bytes again;
  EXPECT_FALSE(withBt601Colour(rewritten.data(), rewritten.size(), again));
  EXPECT_FALSE(withBt601Colour(clip.units[1].data.data(), clip.units[1].data.size(), again));
  H26xHeaders before(VideoCodec::H264), after(VideoCodec::H264);
  const UnitInfo a = before.inspect(clip.units[0].data.data(), clip.units[0].data.size());
  const UnitInfo b = after.inspect(rewritten.data(), rewritten.size());
  EXPECT_EQ(b.window.width * 10000 + b.window.height, a.window.width * 10000 + a.window.height);
  EXPECT_EQ(b.key, a.key);
#if !defined(_WIN32)
  // FFmpeg decodes both to the same pictures, and reads BT.601 from the new one.
  auto decodeAll = [](const std::vector<Bytes>& units, int& colorspace) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    Bytes pictures;
    auto take = [&] {
      while (avcodec_receive_frame(ctx, frame) == 0) {
        for (int y = 0; y < frame->height; ++y)
          pictures.insert(pictures.end(), frame->data[0] + y * frame->linesize[0],
                          frame->data[0] + y * frame->linesize[0] + frame->width);
        colorspace = frame->colorspace;
        av_frame_unref(frame);
      }
    };
    for (const Bytes& unit : units) {
      Bytes padded = unit;
      padded.resize(unit.size() + AV_INPUT_BUFFER_PADDING_SIZE);
      packet->data = padded.data();
      packet->size = static_cast<int>(unit.size());
      avcodec_send_packet(ctx, packet);
      take();
    }
    avcodec_send_packet(ctx, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return pictures;
  };
  std::vector<Bytes> original, changed;
  for (const sp_test::AccessUnit& unit : clip.units) original.push_back(unit.data);
  changed = original;
  changed[0] = rewritten;
  int spaceBefore = -1, spaceAfter = -1;
  const Bytes pictures = decodeAll(original, spaceBefore);
  EXPECT_FALSE(pictures.empty());
  EXPECT_EQ(decodeAll(changed, spaceAfter), pictures);
  EXPECT_EQ(spaceAfter, AVCOL_SPC_SMPTE170M);
  EXPECT_NE(spaceBefore, AVCOL_SPC_SMPTE170M);
#endif
}
