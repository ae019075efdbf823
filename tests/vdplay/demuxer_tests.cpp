// The program and transport stream demuxers on streams written the way
// cameras write them, pushed in pieces of every kind: the access units that
// come out must be exactly the ones that went in, with their times.
#include <gtest/gtest.h>

#include <random>

#include "source/demuxer.h"
#include "support/MpegStreams.h"

using namespace vdplay;
using sp_test::Bytes;
using sp_test::MpegStreamOptions;
using sp_test::MpegUnit;
using vdstream::Codec;
using vdstream::Framing;

namespace {

constexpr std::size_t kPool = 512000;

struct Found : DemuxSink {
  std::vector<VideoUnit> videos;
  std::vector<AudioUnit> audios;
  int damagedUnits = 0;
  void video(VideoUnit&& unit) override { videos.push_back(std::move(unit)); }
  void audio(AudioUnit&& unit) override { audios.push_back(std::move(unit)); }
  void damaged() override { ++damagedUnits; }
};

// An access unit as encoders write them: a parameter set of the codec, then
// the first slice of a picture, whose bytes hold no start code.
Bytes fakeUnit(Codec codec, std::size_t size, int seed) {
  Bytes unit = codec == Codec::H265 ? Bytes{0, 0, 0, 1, 0x40, 0x01, 0x0C, 0, 0, 1, 0x26, 0x01, 0xAF}
                                    : Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x65, 0x88};
  for (std::size_t i = unit.size(); i < size; ++i)
    unit.push_back(static_cast<std::uint8_t>(((i * 7 + static_cast<std::size_t>(seed) * 13) | 1)));
  return unit;
}

// Video units of mixed sizes (one exactly fills whole TS packets, one needs
// several PES packets in a program stream), 40 ms apart, with audio between.
std::vector<MpegUnit> cameraUnits(Codec codec, int count, std::uint64_t firstPts = 90000,
                                  bool withAudio = true) {
  std::vector<MpegUnit> units;
  const std::size_t sizes[] = {5000, 184 * 3 - 14, 70000, 300, 188, 20000};
  for (int i = 0; i < count; ++i) {
    MpegUnit v;
    v.data = fakeUnit(codec, sizes[i % 6], i);
    v.pts = firstPts + static_cast<std::uint64_t>(i) * 3600;
    v.key = i % 6 == 0;
    units.push_back(std::move(v));
    if (withAudio) {
      MpegUnit a;
      a.video = false;
      a.data.assign(320, static_cast<std::uint8_t>(0xD5 + i));
      a.pts = firstPts + static_cast<std::uint64_t>(i) * 3600;
      units.push_back(std::move(a));
    }
  }
  return units;
}

std::vector<Bytes> videoBytes(const std::vector<MpegUnit>& units) {
  std::vector<Bytes> out;
  for (const MpegUnit& u : units)
    if (u.video) out.push_back(u.data);
  return out;
}

// Pushes data in pieces of the given sizes (cycled); a closing call hands on
// the last unit, whose end only the silence after it shows.
Found demux(Framing framing, const Bytes& data, const std::vector<std::size_t>& pieces,
            Codec codec = Codec::None, std::size_t maxUnit = kPool) {
  Found found;
  const std::unique_ptr<Demuxer> demuxer = createDemuxer(framing, codec, maxUnit, 40);
  std::size_t at = 0;
  for (std::size_t i = 0; at < data.size(); ++i) {
    const std::size_t n = std::min(pieces[i % pieces.size()], data.size() - at);
    demuxer->push(data.data() + at, n, found);
    at += n;
  }
  demuxer->closeOpenUnit(found);
  return found;
}

std::vector<Bytes> bytesOf(const std::vector<VideoUnit>& units) {
  std::vector<Bytes> out;
  for (const VideoUnit& u : units) out.push_back(u.bytes);
  return out;
}

std::vector<std::size_t> randomPieces(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::size_t> pieces;
  for (int i = 0; i < 500; ++i) pieces.push_back(1 + random() % 3000);
  return pieces;
}

}  // namespace

TEST(Demuxers, EveryPieceSizeGivesTheSameUnitsAndTimes) {
  for (Framing framing : {Framing::TransportStream, Framing::ProgramStream}) {
    const std::vector<MpegUnit> units = cameraUnits(Codec::H264, 24);
    const Bytes stream = framing == Framing::TransportStream ? sp_test::WriteTransportStream(units)
                                                             : sp_test::WriteProgramStream(units);
    const std::vector<std::vector<std::size_t>> pieceSets = {
        {1}, {188}, {7, 1316, 65536}, randomPieces(1)};
    for (const auto& pieces : pieceSets) {
      SCOPED_TRACE(testing::Message()
                   << "framing " << static_cast<int>(framing) << ", first piece " << pieces[0]);
      const Found found = demux(framing, stream, pieces);
      EXPECT_EQ(bytesOf(found.videos), videoBytes(units));
      EXPECT_EQ(found.damagedUnits, 0);
      for (std::size_t i = 0; i < found.videos.size(); ++i) {
        EXPECT_EQ(found.videos[i].stampMs, 1000 + 40 * i);
        EXPECT_EQ(found.videos[i].codec, Codec::H264);
        EXPECT_FALSE(found.videos[i].afterLoss);
      }
      ASSERT_EQ(found.audios.size(), 24u);
      EXPECT_EQ(found.audios[3].codec, AudioCodec::G711ALaw);
      EXPECT_EQ(found.audios[3].stampMs, 1120u);
      EXPECT_EQ(found.audios[3].bytes, Bytes(320, 0xD8));
    }
  }
}

TEST(Demuxers, AUnitIsHandedOnAsSoonAsItsEndIsSeen) {
  // Transport stream: the stuffed last packet of a PES packet ends it; no
  // waiting for the next picture.
  const std::vector<MpegUnit> units = cameraUnits(Codec::H264, 3, 90000, false);
  const Bytes first = sp_test::WriteTransportStream({units[0]});
  Found found;
  const auto ts = createDemuxer(Framing::TransportStream, Codec::None, kPool, 40);
  ts->push(first.data(), first.size(), found);
  ASSERT_EQ(found.videos.size(), 1u);
  std::uint32_t stamp = 0;
  EXPECT_FALSE(ts->holdsOpenUnit(stamp));

  // Program stream: a picture's end shows only when the next begins, or when
  // no more bytes come; the port's thread then closes it.
  Bytes ps = sp_test::WriteProgramStream({units[0]});
  ps.resize(ps.size() - 4);  // no end code
  Found fromPs;
  const auto psDemuxer = createDemuxer(Framing::ProgramStream, Codec::None, kPool, 40);
  psDemuxer->push(ps.data(), ps.size(), fromPs);
  EXPECT_TRUE(fromPs.videos.empty());
  EXPECT_TRUE(psDemuxer->holdsOpenUnit(stamp));
  EXPECT_EQ(stamp, 1000u);
  const std::uint32_t firstWait = psDemuxer->idleCloseMs();
  psDemuxer->closeOpenUnit(fromPs);
  ASSERT_EQ(fromPs.videos.size(), 1u);
  EXPECT_EQ(fromPs.videos[0].bytes, units[0].data);

  // A host that trickles a picture in: the rest came after the unit was
  // closed. That unit was lost, and the next wait is longer.
  const Bytes second = sp_test::WriteProgramStream({units[2]});  // two PES packets
  const std::size_t half = second.size() - 100;                  // inside its second PES packet
  psDemuxer->push(second.data(), half, fromPs);
  psDemuxer->closeOpenUnit(fromPs);
  psDemuxer->push(second.data() + half, second.size() - half, fromPs);
  EXPECT_EQ(fromPs.damagedUnits, 1);
  EXPECT_GT(psDemuxer->idleCloseMs(), firstWait);
  const Bytes third = sp_test::WriteProgramStream({units[1]});
  psDemuxer->push(third.data(), third.size(), fromPs);
  ASSERT_EQ(fromPs.videos.size(), 3u);
  EXPECT_EQ(fromPs.videos[2].bytes, units[1].data);
  EXPECT_TRUE(fromPs.videos[2].afterLoss);
}

TEST(Demuxers, StartInTheMiddleResynchronisesSilently) {
  const std::vector<MpegUnit> units = cameraUnits(Codec::H265, 30);
  MpegStreamOptions h265;
  h265.videoType = 0x24;
  for (Framing framing : {Framing::TransportStream, Framing::ProgramStream}) {
    const Bytes stream = framing == Framing::TransportStream
                             ? sp_test::WriteTransportStream(units, h265)
                             : sp_test::WriteProgramStream(units, h265);
    const std::size_t cut = stream.size() / 3 + 101;
    const Found found = demux(framing, Bytes(stream.begin() + cut, stream.end()), {1000});
    EXPECT_EQ(found.damagedUnits, 0);
    ASSERT_GE(found.videos.size(), 10u);
    // Every unit that comes out is a whole one of the stream, in order.
    const std::vector<Bytes> all = videoBytes(units);
    const std::vector<Bytes> tail(all.end() - static_cast<std::ptrdiff_t>(found.videos.size()),
                                  all.end());
    EXPECT_EQ(bytesOf(found.videos), tail);
    EXPECT_EQ(found.videos[0].codec, Codec::H265);
  }
}

TEST(Demuxers, LostTransportPacketsDropTheirUnitsAndNothingBroken) {
  const std::vector<MpegUnit> units = cameraUnits(Codec::H264, 60, 90000, false);
  const Bytes stream = sp_test::WriteTransportStream(units);
  Bytes lossy;
  std::mt19937 random(7);
  std::size_t removed = 0;
  for (std::size_t at = 0; at < stream.size(); at += 188) {
    if (random() % 100 == 0) {
      ++removed;
      continue;
    }
    lossy.insert(lossy.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                 stream.begin() + static_cast<std::ptrdiff_t>(at + 188));
  }
  ASSERT_GT(removed, 3u);
  const Found found = demux(Framing::TransportStream, lossy, randomPieces(2));
  const std::vector<Bytes> all = videoBytes(units);
  EXPECT_GT(found.damagedUnits, 0);
  EXPECT_LT(found.videos.size(), all.size());
  bool lossSeen = false;
  std::size_t next = 0;
  for (const VideoUnit& unit : found.videos) {
    const auto match =
        std::find(all.begin() + static_cast<std::ptrdiff_t>(next), all.end(), unit.bytes);
    ASSERT_NE(match, all.end()) << "a unit that is not one of the stream's";
    const auto index = static_cast<std::size_t>(match - all.begin());
    EXPECT_EQ(unit.stampMs, 1000 + 40 * index);
    if (index != next) {
      EXPECT_TRUE(unit.afterLoss) << "unit " << index << " follows a loss";
    }
    lossSeen = lossSeen || unit.afterLoss;
    next = index + 1;
  }
  EXPECT_TRUE(lossSeen);
}

TEST(Demuxers, TimeStampsRunOnAcrossTheirWrapAndJumpsAreKept) {
  constexpr std::uint64_t kWrap = std::uint64_t{1} << 33;
  const std::vector<MpegUnit> units = cameraUnits(Codec::H264, 12, kWrap - 3 * 3600, false);
  const Found found = demux(Framing::TransportStream, sp_test::WriteTransportStream(units), {4096});
  ASSERT_EQ(found.videos.size(), 12u);
  for (std::size_t i = 1; i < found.videos.size(); ++i)
    EXPECT_EQ(found.videos[i].stampMs - found.videos[i - 1].stampMs, 40u) << i;
}

TEST(Demuxers, StreamMapChangesAndMissingMapsFollowTheVideo) {
  // A recorder switches from H.264 to H.265 with a new map version.
  std::vector<MpegUnit> h264 = cameraUnits(Codec::H264, 6);
  std::vector<MpegUnit> h265 = cameraUnits(Codec::H265, 6, 90000 + 6 * 3600);
  MpegStreamOptions second;
  second.videoType = 0x24;
  second.mapVersion = 1;
  for (Framing framing : {Framing::TransportStream, Framing::ProgramStream}) {
    Bytes stream;
    if (framing == Framing::TransportStream) {
      sp_test::TsCounters counters;
      stream = sp_test::WriteTransportStream(h264, {}, counters);
      const Bytes rest = sp_test::WriteTransportStream(h265, second, counters);
      stream.insert(stream.end(), rest.begin(), rest.end());
    } else {
      stream = sp_test::WriteProgramStream(h264);
      stream.resize(stream.size() - 4);
      const Bytes rest = sp_test::WriteProgramStream(h265, second);
      stream.insert(stream.end(), rest.begin(), rest.end());
    }
    const Found found = demux(framing, stream, {999});
    ASSERT_EQ(found.videos.size(), 12u);
    EXPECT_EQ(found.videos[5].codec, Codec::H264);
    EXPECT_EQ(found.videos[6].codec, Codec::H265);
    EXPECT_EQ(found.damagedUnits, 0);
  }
  // A program stream without a map: the codec comes from the video itself,
  // or from the header where the video does not tell it (no parameter sets).
  MpegStreamOptions noMap;
  noMap.withMap = false;
  EXPECT_EQ(demux(Framing::ProgramStream, sp_test::WriteProgramStream(h265, noMap), {512})
                .videos.at(0)
                .codec,
            Codec::H265);
  std::vector<MpegUnit> slicesOnly = h265;
  for (MpegUnit& u : slicesOnly)
    if (u.video) u.data.erase(u.data.begin(), u.data.begin() + 7);  // the parameter set
  const Bytes untold = sp_test::WriteProgramStream(slicesOnly, noMap);
  const Found guessed = demux(Framing::ProgramStream, untold, {512});
  EXPECT_TRUE(guessed.videos.empty());
  EXPECT_EQ(guessed.damagedUnits, 0);
  const Found forced = demux(Framing::ProgramStream, untold, {512}, Codec::H265);
  ASSERT_EQ(forced.videos.size(), 6u);
  EXPECT_EQ(forced.videos[0].codec, Codec::H265);
}

TEST(Demuxers, AUnitLargerThanThePoolIsDroppedAndTheNextMarked) {
  const std::vector<MpegUnit> units = cameraUnits(Codec::H264, 6, 90000, false);  // one of 70000
  for (Framing framing : {Framing::TransportStream, Framing::ProgramStream}) {
    const Bytes stream = framing == Framing::TransportStream ? sp_test::WriteTransportStream(units)
                                                             : sp_test::WriteProgramStream(units);
    const Found found = demux(framing, stream, {4096}, Codec::None, 65536);
    ASSERT_EQ(found.videos.size(), 5u);
    EXPECT_EQ(found.damagedUnits, 1);
    EXPECT_EQ(found.videos[2].bytes, units[3].data);
    EXPECT_TRUE(found.videos[2].afterLoss);
  }
}

TEST(Demuxers, TransportPacketsWithTimeCodesAsM2tsFilesHaveThem) {
  const std::vector<MpegUnit> units = cameraUnits(Codec::H264, 12);
  const Bytes ts = sp_test::WriteTransportStream(units);
  Bytes m2ts;
  for (std::size_t at = 0; at < ts.size(); at += 188) {
    const std::uint32_t code = static_cast<std::uint32_t>(at * 0x47);  // may hold sync bytes
    for (int shift = 24; shift >= 0; shift -= 8)
      m2ts.push_back(static_cast<std::uint8_t>(code >> shift));
    m2ts.insert(m2ts.end(), ts.begin() + static_cast<std::ptrdiff_t>(at),
                ts.begin() + static_cast<std::ptrdiff_t>(at + 188));
  }
  const Found found = demux(Framing::TransportStream, m2ts, randomPieces(3));
  EXPECT_EQ(bytesOf(found.videos), videoBytes(units));
  EXPECT_EQ(found.damagedUnits, 0);
}
