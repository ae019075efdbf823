// Stream data through Play_InputData in awkward pieces and with damage: what
// the decoder shows is checked with a display callback on its ports.
#include <cstring>

#include "support/PlayerOverDecoderFixture.h"
#include "support/Waiting.h"

namespace sp_test {
namespace {

class PlayerStreamData : public PlayerOverDecoder {
 protected:
  void SetUp() override {
    PlayerOverDecoder::SetUp();
    ShownFrames::Get().Install();
  }

  // Waits until count frames were shown (and a little longer, to catch extra ones).
  std::vector<std::uint32_t> FramesAfter(std::size_t count) {
    EXPECT_TRUE(WaitFor([&] { return ShownFrames::Get().Sums().size() >= count; }))
        << "shown " << ShownFrames::Get().Sums().size() << " of " << count;
    SleepMs(30);
    return ShownFrames::Get().Sums();
  }
};

Bytes Slice(const Bytes& data, std::size_t from, std::size_t to) {
  return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(to));
}

void Put32(Bytes& packet, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) packet[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Two small pictures, one raw and one zlib-compressed.
TestStream SmallMixedStream() {
  return MakeTestStream({8, 8, 2, vdstream::Payload::Raw, true, 1000});
}

TEST_F(PlayerStreamData, OneBytePerInputGivesTheSameFrames) {
  Init(0);
  const TestStream s = SmallMixedStream();
  Open(s);
  const Bytes all = s.AllPackets();
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(Input(Slice(all, i, i + 1)), SP_OK);
  EXPECT_EQ(FramesAfter(s.pictures.size()), s.PictureSums());
}

TEST_F(PlayerStreamData, EveryTwoPieceSplitGivesTheSameFrames) {
  Init(0);
  const TestStream s = SmallMixedStream();
  Open(s);
  const Bytes all = s.AllPackets();
  const std::size_t firstPacket = s.packets[0].size();
  std::vector<std::uint32_t> expected;
  // The stream again and again, cut in two at each byte in turn. The second
  // piece follows only once the decoder has shown what the first one
  // completed, so that it has the incomplete rest in hand.
  for (std::size_t cut = 1; cut < all.size(); ++cut) {
    ASSERT_EQ(Input(Slice(all, 0, cut)), SP_OK);
    const std::size_t complete = expected.size() + (cut >= firstPacket ? 1 : 0);
    ASSERT_TRUE(WaitFor([&] { return ShownFrames::Get().Sums().size() == complete; }))
        << "cut at " << cut;
    ASSERT_EQ(Input(Slice(all, cut, all.size())), SP_OK);
    for (std::uint32_t sum : s.PictureSums()) expected.push_back(sum);
  }
  EXPECT_EQ(FramesAfter(expected.size()), expected);
  EXPECT_EQ(OpenStreamStats().packetsDamaged, 0u);
}

TEST_F(PlayerStreamData, DamagedPacketsAreSkippedAndPlayGoesOn) {
  Init(0);
  const TestStream s = MakeTestStream(16, 16, 6, vdstream::Payload::Zlib, 1000);
  Open(s);

  Bytes wrongSize = MakeTestStream(16, 16, 1, vdstream::Payload::Raw, 1000).packets[0];
  Put32(wrongSize, 4, 100);  // a raw picture of 100 bytes suits no 16x16 picture
  wrongSize.resize(16 + 100);
  Bytes badZlib = s.packets[0];
  for (std::size_t i = 18; i < badZlib.size(); ++i) badZlib[i] ^= 0x5a;
  Bytes unknownType = s.packets[0];
  Put32(unknownType, 12, 99);
  const Bytes junk(50, 0x33);

  const std::vector<Bytes> blocks = {s.packets[0], wrongSize, s.packets[1], badZlib,
                                     s.packets[2], unknownType, s.packets[3], junk,
                                     s.packets[4], s.packets[5]};
  for (const Bytes& block : blocks) ASSERT_EQ(Input(block), SP_OK);

  EXPECT_EQ(FramesAfter(s.pictures.size()), s.PictureSums())
      << "every good picture, in order, and nothing else";
  EXPECT_EQ(OpenStreamStats().packetsDamaged, 4u);
  EXPECT_EQ(OpenStreamStats().bytesWaiting, 0u);
}

}  // namespace
}  // namespace sp_test
