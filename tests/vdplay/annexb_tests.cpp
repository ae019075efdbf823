// The Annex-B access-unit splitter and the H.264/H.265 header reader that
// the Windows decoder uses, on hand-made NAL units (real clips:
// annexb_clip_tests.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decode/annexb_splitter.h"
#include "decode/h26x_headers.h"

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

Bytes cat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kAud{0, 0, 0, 1, 0x09, 0xf0};
const Bytes kSps{0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1e, 0xab};
const Bytes kPps{0, 0, 0, 1, 0x68, 0xce, 0x38, 0x80};
// Slices with first_mb_in_slice 0 (first bit 1) and a later slice of the same
// picture (first_mb_in_slice 1: bits 010).
const Bytes kIdrFirst{0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0x00, 0x00, 0x03, 0x01, 0x7f};
const Bytes kIdrSecond{0, 0, 1, 0x65, 0x41, 0x9a, 0x55};
const Bytes kPFirst{0, 0, 0, 1, 0x41, 0x9a, 0x22, 0x6c};
const Bytes kPSecond{0, 0, 1, 0x41, 0x40, 0x10, 0x33};

}  // namespace

TEST(AnnexBSplitter, CutsH264AtParameterSetsDelimitersAndNewPictures) {
  const Bytes unit1 = cat({kAud, kSps, kPps, kIdrFirst, kIdrSecond});
  const Bytes unit2 = cat({kPFirst, kPSecond});  // no delimiter: the new picture's first slice
  const Bytes unit3 = cat({kAud, kPFirst});
  const Bytes stream = cat({unit1, unit2, unit3});
  for (std::size_t piece : {1u, 2u, 3u, 5u, 7u, 1000u}) {
    const std::vector<Bytes> units = split(VideoCodec::H264, stream, {piece});
    ASSERT_EQ(units.size(), 3u) << "pieces of " << piece;
    EXPECT_EQ(units[0], unit1);
    EXPECT_EQ(units[1], unit2);
    EXPECT_EQ(units[2], unit3);
  }
}

TEST(AnnexBSplitter, HoldsTheLastUnitUntilTheNextBeginsOrTheStreamEnds) {
  AnnexBSplitter s(VideoCodec::H264);
  const Bytes unit1 = cat({kSps, kPps, kIdrFirst});
  s.push(unit1.data(), unit1.size());
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  EXPECT_FALSE(s.next(data, size));
  EXPECT_TRUE(s.holds());
  s.push(kAud.data(), 4);  // a start code, but not yet the NAL header
  EXPECT_FALSE(s.next(data, size));
  s.push(kAud.data() + 4, 2);
  ASSERT_TRUE(s.next(data, size));
  EXPECT_EQ(Bytes(data, data + size), unit1);
  EXPECT_FALSE(s.next(data, size));
  s.end();
  ASSERT_TRUE(s.next(data, size));
  EXPECT_EQ(Bytes(data, data + size), kAud);
  EXPECT_FALSE(s.holds());
  // After end(), new bytes begin a new unit.
  s.push(kPFirst.data(), kPFirst.size());
  s.end();
  ASSERT_TRUE(s.next(data, size));
  EXPECT_EQ(Bytes(data, data + size), kPFirst);
}

TEST(AnnexBSplitter, BytesBeforeAnyStartCodeComeOutAloneAndZerosAreDropped) {
  const Bytes junk{0x12, 0x34, 0x56};
  const Bytes unit = cat({kAud, kSps, kIdrFirst});
  const std::vector<Bytes> units = split(VideoCodec::H264, cat({junk, unit}), {2});
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0], junk);
  EXPECT_EQ(units[1], unit);
  const std::vector<Bytes> zeros = split(VideoCodec::H264, cat({Bytes(5, 0), unit}), {3});
  ASSERT_EQ(zeros.size(), 1u);
  EXPECT_EQ(zeros[0], unit);
  EXPECT_TRUE(split(VideoCodec::H264, Bytes(10, 0), {4}).empty());
}

TEST(AnnexBSplitter, ResetForgetsWhatIsHeld) {
  AnnexBSplitter s(VideoCodec::H264);
  s.push(kIdrFirst.data(), kIdrFirst.size());
  s.reset();
  EXPECT_FALSE(s.holds());
  const Bytes unit = cat({kAud, kPFirst});
  s.push(unit.data(), unit.size());
  s.end();
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  ASSERT_TRUE(s.next(data, size));
  EXPECT_EQ(Bytes(data, data + size), unit);
}

TEST(AnnexBSplitter, CutsH265AtFirstSliceSegments) {
  // NAL headers: type << 1, layer 0, temporal id 1. IDR_W_RADL (19), TRAIL_R (1),
  // VPS (32), SPS (33), PPS (34), AUD (35), suffix SEI (40).
  const Bytes vps{0, 0, 0, 1, 0x40, 0x01, 0x0c};
  const Bytes sps{0, 0, 0, 1, 0x42, 0x01, 0x01};
  const Bytes pps{0, 0, 0, 1, 0x44, 0x01, 0xc1};
  const Bytes idr{0, 0, 0, 1, 0x26, 0x01, 0xaf, 0x11};
  const Bytes idrMore{0, 0, 1, 0x26, 0x01, 0x40, 0x22};  // not the first segment
  const Bytes suffixSei{0, 0, 1, 0x50, 0x01, 0x84};
  const Bytes trail{0, 0, 0, 1, 0x02, 0x01, 0xd0, 0x33};
  const Bytes aud{0, 0, 0, 1, 0x46, 0x01, 0x50};
  const Bytes unit1 = cat({vps, sps, pps, idr, idrMore, suffixSei});
  const Bytes unit2 = trail;
  const Bytes unit3 = cat({aud, trail});
  for (std::size_t piece : {1u, 4u, 9u, 100u}) {
    const std::vector<Bytes> units = split(VideoCodec::H265, cat({unit1, unit2, unit3}), {piece});
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0], unit1);
    EXPECT_EQ(units[1], unit2);
    EXPECT_EQ(units[2], unit3);
  }
}

TEST(H26xHeaders, ReadsTheCroppingWindowKeyAndPictureTypes) {
  // Baseline SPS of 640x360 (40x23 macroblocks, cropped by 8 rows), written
  // bit by bit.
  std::vector<int> bits;
  auto put = [&](std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back((v >> i) & 1);
  };
  auto ue = [&](std::uint32_t v) {
    const std::uint32_t x = v + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    put(0, len);
    put(x, len + 1);
  };
  put(66, 8);
  put(0, 8);
  put(30, 8);
  ue(0);        // sps id
  ue(0);        // log2_max_frame_num_minus4
  ue(2);        // poc type 2
  ue(1);        // max_num_ref_frames
  put(0, 1);    // gaps
  ue(39);       // width in mbs - 1
  ue(22);       // height in map units - 1
  put(1, 1);    // frame_mbs_only
  put(1, 1);    // direct_8x8
  put(1, 1);    // cropping
  ue(0);
  ue(0);
  ue(0);
  ue(4);        // bottom: 4 * 2 rows
  put(0, 1);    // no VUI
  put(1, 1);    // trailing bits
  while (bits.size() % 8) bits.push_back(0);
  Bytes sps{0, 0, 0, 1, 0x67};
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    int b = 0;
    for (int k = 0; k < 8; ++k) b = b * 2 + bits[i + k];
    sps.push_back(static_cast<std::uint8_t>(b));
  }
  H26xHeaders headers(VideoCodec::H264);
  // PPS 0 -> SPS 0 (ue 0, ue 0: bits 11).
  const Bytes pps{0, 0, 0, 1, 0x68, 0xc0};
  // IDR slice: first_mb 0 (1), slice_type 7 = I (0001000), pps 0 (1).
  const Bytes idr{0, 0, 0, 1, 0x65, 0x88, 0x80};
  UnitInfo key = headers.inspect(cat({kAud, sps, pps, idr}).data(), cat({kAud, sps, pps, idr}).size());
  EXPECT_TRUE(key.hasSlice);
  EXPECT_TRUE(key.key);
  EXPECT_TRUE(key.newSequence);
  EXPECT_FALSE(key.bPicture);
  ASSERT_TRUE(key.window.valid());
  EXPECT_EQ(key.window.codedWidth, 640u);
  EXPECT_EQ(key.window.codedHeight, 368u);
  EXPECT_EQ(key.window.width, 640u);
  EXPECT_EQ(key.window.height, 360u);
  EXPECT_EQ(key.window.top, 0u);
  // Non-reference B slice (nal_ref_idc 0): first_mb 0 (1), slice_type 6 = B (00111), pps 0 (1).
  const Bytes b{0, 0, 0, 1, 0x01, 0x9e};
  const UnitInfo bInfo = headers.inspect(b.data(), b.size());
  EXPECT_TRUE(bInfo.bPicture);
  EXPECT_FALSE(bInfo.reference);
  EXPECT_FALSE(bInfo.key);
  EXPECT_EQ(bInfo.window.height, 360u) << "the window of the SPS its PPS names";
  const Bytes eos{0, 0, 0, 1, 0x0a};
  EXPECT_TRUE(headers.inspect(eos.data(), eos.size()).endOfSequence);
  EXPECT_FALSE(headers.inspect(eos.data(), eos.size()).hasSlice);
}
