// The demo's own MP4/MOV reader against FFmpeg's demuxing (the demo's
// libavformat reader, MediaReader): clips made with the ffmpeg command give
// the same access units, time stamps and sound; cut and damaged files give
// an error or fewer units, never a crash or a read out of bounds (the asan
// build checks the latter).
#include <gtest/gtest.h>

#include <VdStreamFormat.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../examples/spdemo/media_reader.h"
#include "../../examples/spdemo/mp4_reader.h"
#include "decode/adts_header.h"
#include "support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Ffmpeg(const std::string& args) {
  const std::string command = std::string(SPDEMO_TEST_FFMPEG) + " -nostdin -v error -y " + args;
  return std::system(command.c_str()) == 0;
}

// A clip of testsrc2 with a 440 Hz tone.
bool MakeClip(const std::string& path, const std::string& video, const std::string& audio,
              double seconds = 2, const std::string& size = "320x240") {
  const std::string length = std::to_string(seconds);
  return Ffmpeg("-f lavfi -i testsrc2=size=" + size + ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=" +
                (audio.find("alaw") != std::string::npos ? "8000" : "48000") + " -t " + length +
                " -pix_fmt yuv420p " + video + " " + audio + " -shortest '" + path + "'");
}

// The NAL units of an Annex-B unit, start codes of either length taken off.
std::vector<Bytes> NalUnits(const Bytes& unit) {
  std::vector<Bytes> nals;
  std::size_t start = std::string::npos;
  for (std::size_t i = 0; i + 3 <= unit.size(); ++i) {
    if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
      if (start != std::string::npos) {
        std::size_t end = i;
        while (end > start && unit[end - 1] == 0) --end;
        nals.emplace_back(unit.begin() + static_cast<std::ptrdiff_t>(start),
                          unit.begin() + static_cast<std::ptrdiff_t>(end));
      }
      start = i + 3;
      i += 2;
    }
  }
  if (start != std::string::npos)
    nals.emplace_back(unit.begin() + static_cast<std::ptrdiff_t>(start), unit.end());
  return nals;
}

struct Read {
  std::vector<spdemo::AccessUnit> video;
  std::vector<spdemo::AudioUnitOut> audio;
  std::string error;
};

Read ReadAll(spdemo::VideoFileReader& reader, std::size_t limit = 100000) {
  Read out;
  spdemo::AccessUnit unit;
  spdemo::AudioUnitOut sound;
  while (out.video.size() < limit && reader.read(unit)) {
    out.video.push_back(unit);
    while (reader.takeAudio(sound)) out.audio.push_back(sound);
  }
  while (reader.takeAudio(sound)) out.audio.push_back(sound);
  out.error = reader.error();
  return out;
}

Bytes Concatenated(const std::vector<spdemo::AudioUnitOut>& units) {
  Bytes all;
  for (const auto& u : units) all.insert(all.end(), u.data.begin(), u.data.end());
  return all;
}

TEST(DemoMp4, GivesWhatFfmpegDemuxes) {
  struct Case {
    const char* name;
    const char* video;
    const char* audio;
    spdemo::VideoCodec codec;
    const char* audioCodec;
  };
  const Case cases[] = {
      {"b-frames.mp4", "-c:v libx264 -preset veryfast -bf 2 -g 12", "-c:a aac -b:a 96k",
       spdemo::VideoCodec::H264, "aac"},
      {"faststart.mp4", "-c:v libx264 -preset veryfast -bf 2 -g 12 -movflags +faststart",
       "-c:a aac", spdemo::VideoCodec::H264, "aac"},
      {"h265.mp4", "-c:v libx265 -preset ultrafast -x265-params log-level=error -tag:v hvc1",
       "-c:a aac", spdemo::VideoCodec::H265, "aac"},
      {"alaw.mov", "-c:v libx264 -preset veryfast -bf 0", "-c:a pcm_alaw -ac 1",
       spdemo::VideoCodec::H264, "pcm_alaw"},
      {"aac.mov", "-c:v libx264 -preset veryfast", "-c:a aac", spdemo::VideoCodec::H264, "aac"},
  };
  sp_test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string clip = dir.File(c.name);
    ASSERT_TRUE(MakeClip(clip, c.video, c.audio));
    spdemo::Mp4Reader mine;
    ASSERT_TRUE(mine.open(clip)) << mine.error();
    spdemo::MediaReader ffmpeg;
    ASSERT_TRUE(ffmpeg.open(clip)) << ffmpeg.error();

    EXPECT_EQ(mine.codec(), c.codec);
    EXPECT_EQ(mine.width(), 320u);
    EXPECT_EQ(mine.height(), 240u);
    EXPECT_EQ(mine.rateNumerator(), ffmpeg.rateNumerator());
    EXPECT_EQ(mine.rateDenominator(), ffmpeg.rateDenominator());
    EXPECT_EQ(mine.audioCodec(), c.audioCodec);

    const Read a = ReadAll(mine);
    const Read b = ReadAll(ffmpeg);
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(b.error, "");
    ASSERT_EQ(a.video.size(), 50u);
    ASSERT_EQ(a.video.size(), b.video.size());
    for (std::size_t i = 0; i < a.video.size(); ++i) {
      SCOPED_TRACE("unit " + std::to_string(i));
      EXPECT_EQ(NalUnits(a.video[i].data), NalUnits(b.video[i].data));
      EXPECT_EQ(a.video[i].presentationMs, b.video[i].presentationMs);
      EXPECT_NEAR(a.video[i].decodeSeconds, b.video[i].decodeSeconds, 1e-6);
      EXPECT_EQ(a.video[i].keyFrame, b.video[i].keyFrame);
    }

    ASSERT_FALSE(a.audio.empty());
    if (std::string(c.audioCodec) == "aac") {
      ASSERT_EQ(a.audio.size(), b.audio.size());
      for (std::size_t i = 0; i < a.audio.size(); ++i) {
        EXPECT_EQ(a.audio[i].stampMs, b.audio[i].stampMs) << "sound unit " << i;
        EXPECT_EQ(a.audio[i].data, b.audio[i].data) << "sound unit " << i;
      }
      // The stand-in's own ADTS reader takes the header: 48 kHz mono LC.
      vdplay::AdtsFrame frame;
      ASSERT_TRUE(vdplay::readAdtsFrame(a.audio[0].data.data(), a.audio[0].data.size(), frame));
      EXPECT_EQ(frame.rate, 48000u);
      EXPECT_EQ(frame.channels, 1u);
      EXPECT_EQ(frame.objectType, 2u);
      EXPECT_EQ(frame.frameBytes, a.audio[0].data.size());
    } else {
      // G.711 is cut into units differently; the bytes and times agree.
      EXPECT_EQ(Concatenated(a.audio), Concatenated(b.audio));
      EXPECT_EQ(a.audio.front().stampMs, b.audio.front().stampMs);
      for (const auto& u : a.audio) {
        EXPECT_EQ(u.payloadType, static_cast<std::uint32_t>(vdstream::Payload::G711ALaw));
        EXPECT_LE(u.data.size(), 320u);
      }
    }
    // Every sound unit comes before the first picture due after it starts.
    for (std::size_t i = 1; i < a.audio.size(); ++i)
      EXPECT_GE(a.audio[i].stampMs, a.audio[i - 1].stampMs);
  }
}

// The top-level moov box: where it starts and how long it is.
bool FindIndex(const std::string& file, std::size_t& start, std::size_t& size) {
  std::size_t at = 0;
  while (at + 8 <= file.size()) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(file.data() + at);
    const std::size_t boxSize = static_cast<std::size_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    if (std::memcmp(p + 4, "moov", 4) == 0) {
      start = at;
      size = boxSize;
      return at + boxSize <= file.size();
    }
    if (boxSize < 8) return false;
    at += boxSize;
  }
  return false;
}

std::uint32_t Be32(const std::string& s, std::size_t at) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data() + at);
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::string BigEndian(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// The boxes of a payload again, containers rebuilt, every 32-bit chunk
// offset table (stco) turned into a 64-bit one (co64) with its offsets moved
// by shift, every table of sample sizes (stsz) into a compact one of 16-bit
// fields (stz2), and every box written with a 64-bit size when wide is set.
std::string Rewrite(const std::string& in, std::uint64_t shift, bool wide) {
  std::string out;
  for (std::size_t at = 0; at + 8 <= in.size();) {
    const std::uint32_t size = Be32(in, at);
    std::string type = in.substr(at + 4, 4);
    std::string payload = in.substr(at + 8, size - 8);
    if (type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl") {
      payload = Rewrite(payload, shift, wide);
    } else if (type == "stco") {
      std::string table = payload.substr(0, 8);  // version, flags, count
      for (std::uint32_t i = 0; i < Be32(payload, 4); ++i)
        table += BigEndian(Be32(payload, 8 + 4 * i) + shift, 8);
      payload = table;
      type = "co64";
    } else if (type == "stsz" && Be32(payload, 4) == 0) {
      std::string table = BigEndian(0, 4) + BigEndian(16, 4) + payload.substr(8, 4);
      for (std::uint32_t i = 0; i < Be32(payload, 8); ++i) {
        const std::uint32_t size = Be32(payload, 12 + 4 * i);
        EXPECT_LT(size, 65536u);
        table += BigEndian(size, 2);
      }
      payload = table;
      type = "stz2";
    }
    out += wide ? BigEndian(1, 4) + type + BigEndian(payload.size() + 16, 8)
                : BigEndian(payload.size() + 8, 4) + type;
    out += payload;
    at += size;
  }
  return out;
}

TEST(DemoMp4, ReadsSixtyFourBitBoxSizesAndChunkOffsetsAndCompactSampleSizes) {
  sp_test::TempDir dir;
  const std::string clip = dir.File("clip.mp4");
  ASSERT_TRUE(MakeClip(clip, "-c:v libx264 -preset veryfast -bf 2", "-c:a aac", 1, "160x120"));
  const std::string whole = sp_test::ReadFile(clip);
  // The index follows the media data here: the media data's box becomes 8
  // bytes longer with a 64-bit size, so every chunk moves by 8; the index
  // after it takes 64-bit sizes throughout.
  const std::string wide = dir.File("wide.mp4");
  std::string rewritten;
  for (std::size_t at = 0; at + 8 <= whole.size();) {
    const std::uint32_t size = Be32(whole, at);
    ASSERT_GE(size, 8u);
    const std::string box = whole.substr(at, size);
    const std::string type = box.substr(4, 4);
    rewritten += Rewrite(box, 8, type == "mdat" || type == "moov");
    at += size;
  }
  sp_test::WriteFile(wide, rewritten);

  spdemo::Mp4Reader original;
  ASSERT_TRUE(original.open(clip)) << original.error();
  spdemo::Mp4Reader reader;
  ASSERT_TRUE(reader.open(wide)) << reader.error();
  const Read a = ReadAll(original);
  const Read b = ReadAll(reader);
  EXPECT_EQ(b.error, "");
  ASSERT_EQ(a.video.size(), 25u);
  ASSERT_EQ(b.video.size(), a.video.size());
  for (std::size_t i = 0; i < a.video.size(); ++i) EXPECT_EQ(a.video[i].data, b.video[i].data);
  EXPECT_EQ(Concatenated(a.audio), Concatenated(b.audio));
  EXPECT_FALSE(b.audio.empty());
}

TEST(DemoMp4, ADamagedDurationEndsTheFileInsteadOfAWaitOfHours) {
  sp_test::TempDir dir;
  const std::string clip = dir.File("clip.mp4");
  ASSERT_TRUE(MakeClip(clip, "-c:v libx264 -preset veryfast -bf 0", "-c:a aac", 1, "160x120"));
  std::string bytes = sp_test::ReadFile(clip);
  // The video's (first) decoding-time table: every picture lasts 2^31 ticks.
  std::size_t moov = 0, moovSize = 0;
  ASSERT_TRUE(FindIndex(bytes, moov, moovSize));
  const std::size_t stts = bytes.find("stts", moov);
  ASSERT_NE(stts, std::string::npos);
  ASSERT_GE(Be32(bytes, stts + 8), 1u);
  bytes.replace(stts + 16, 4, BigEndian(0x80000000u, 4));
  const std::string damaged = dir.File("damaged.mp4");
  sp_test::WriteFile(damaged, bytes);

  spdemo::Mp4Reader reader;
  ASSERT_TRUE(reader.open(damaged)) << reader.error();
  const Read r = ReadAll(reader);
  EXPECT_EQ(r.video.size(), 1u);
  EXPECT_NE(r.error.find("decoding times jump"), std::string::npos) << r.error;
}

TEST(DemoMp4, RefusesWhatItCannotPlayWithAReason) {
  sp_test::TempDir dir;
  const std::string mpeg4 = dir.File("mpeg4.mp4");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 5 -c:v mpeg4 '" + mpeg4 + "'"));
  const std::string text = dir.File("text.mp4");
  sp_test::WriteFile(text, "this is no video file at all, just some text\n");
  const std::string empty = dir.File("empty.mp4");
  sp_test::WriteFile(empty, "");
  const std::string fragmented = dir.File("fragmented.mp4");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 10 -c:v libx264 "
                     "-movflags frag_keyframe+empty_moov '" + fragmented + "'"));
  const struct {
    std::string path;
    const char* says;
  } cases[] = {
      {mpeg4, "only H.264 and H.265"},
      {text, "not an MP4"},
      {empty, "empty"},
      {fragmented, "fragmented"},
      {dir.File("missing.mp4"), "cannot open"},
  };
  for (const auto& c : cases) {
    spdemo::Mp4Reader reader;
    EXPECT_FALSE(reader.open(c.path)) << c.path;
    EXPECT_NE(reader.error().find(c.says), std::string::npos) << reader.error();
  }
  EXPECT_TRUE(spdemo::isMp4FileName("a/b.MP4"));
  EXPECT_TRUE(spdemo::isMp4FileName("c.mov"));
  EXPECT_TRUE(spdemo::isMp4FileName("c.m4v"));
  EXPECT_FALSE(spdemo::isMp4FileName("c.mkv"));
  EXPECT_FALSE(spdemo::isMp4FileName("dir.mp4/clip"));
}

// Reads a damaged file to its end: the reader must stop by itself and, for a
// cut file, give no more units than the whole file has and say why when it
// gave fewer.
void ReadDamaged(const std::string& path, std::size_t wholeUnits, bool cut, const std::string& what) {
  spdemo::Mp4Reader reader;
  if (!reader.open(path)) {
    EXPECT_NE(reader.error(), "") << what;
    return;
  }
  const Read r = ReadAll(reader);
  if (cut) {
    EXPECT_LE(r.video.size(), wholeUnits) << what;
    if (r.video.size() < wholeUnits) {
      EXPECT_NE(r.error, "") << what;
    }
  }
  for (const auto& u : r.audio) EXPECT_LE(u.data.size(), vdstream::kMaxAudioPayload) << what;
}

TEST(DemoMp4, CutAndDamagedFilesEndWithAnErrorNeverACrash) {
  sp_test::TempDir dir;
  const std::string atEnd = dir.File("at-end.mp4");
  const std::string atStart = dir.File("at-start.mp4");
  ASSERT_TRUE(MakeClip(atEnd, "-c:v libx264 -preset veryfast -bf 2 -g 10", "-c:a aac", 1,
                       "160x120"));
  ASSERT_TRUE(MakeClip(atStart, "-c:v libx264 -preset veryfast -bf 2 -g 10 -movflags +faststart",
                       "-c:a aac", 1, "160x120"));
  const std::string damaged = dir.File("damaged.mp4");
  std::mt19937 random(20261208);
  for (const std::string& path : {atEnd, atStart}) {
    SCOPED_TRACE(path);
    const std::string whole = sp_test::ReadFile(path);
    spdemo::Mp4Reader reader;
    ASSERT_TRUE(reader.open(path));
    const std::size_t units = ReadAll(reader).video.size();
    ASSERT_EQ(units, 25u);

    // Cut at many points: before, inside and after the index and the media.
    for (std::size_t length = 0; length < whole.size(); length += 1 + whole.size() / 300) {
      sp_test::WriteFile(damaged, whole.substr(0, length));
      ReadDamaged(damaged, units, true, "cut at " + std::to_string(length));
    }

    // Random bytes changed, half of the time inside the index.
    std::size_t moov = 0, moovSize = 0;
    ASSERT_TRUE(FindIndex(whole, moov, moovSize));
    for (int round = 0; round < 400; ++round) {
      std::string bytes = whole;
      const int flips = 1 + static_cast<int>(random() % 12);
      for (int i = 0; i < flips; ++i) {
        const bool inIndex = round % 2 == 0;
        const std::size_t from = inIndex ? moov : 0;
        const std::size_t span = inIndex ? moovSize : whole.size();
        bytes[from + random() % span] = static_cast<char>(random() & 0xFF);
      }
      sp_test::WriteFile(damaged, bytes);
      ReadDamaged(damaged, units, false, "round " + std::to_string(round));
    }
  }
}

}  // namespace
