// The stand-in's sound stage, heard: a private PulseAudio server with a null
// sink (no sound device needed) is recorded through its monitor while a
// port plays a stream with audio packets. Skipped where pulseaudio or parec
// is missing (scripts/install-deps installs them).
#include <VdPlay.h>
#include <VdStreamFormat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/SoundServer.h"
#include "support/SoundSync.h"
#include "support/StandInPorts.h"

namespace {

using namespace sp_test;
using std::chrono::milliseconds;

constexpr std::uint32_t kW = 64, kH = 48, kFps = 25;

void Sleep(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

void PlainPicture(std::uint32_t n, std::uint8_t* picture) {
  vdstream::fillTestPicture(picture, kW, kH, n);
}

class SoundTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (SoundServer::Available()) server_ = new SoundServer;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_ || !server_->Running()) GTEST_SKIP() << "no pulseaudio/parec: the sound tests need them";
  }
  void TearDown() override {
    VdPlay_StopSound();
    for (int port = 0; port < 2; ++port) VdPlay_CloseStream(port);
  }

  static const std::vector<AudioPacket>& Tone(vdstream::Payload type) {
    static std::vector<AudioPacket> alaw, mulaw, aac;
    std::vector<AudioPacket>& cached =
        type == vdstream::Payload::G711ALaw ? alaw : type == vdstream::Payload::G711MuLaw ? mulaw : aac;
    if (cached.empty()) {
      const std::string sine = "-f lavfi -i sine=frequency=440:duration=4:sample_rate=";
      if (type == vdstream::Payload::AacAdts)
        cached = AdtsPackets(FfmpegBytes(sine + "48000 -c:a aac -b:a 96k -f adts", server_->Dir()));
      else
        cached = G711Packets(FfmpegBytes(
            sine + "8000 -f " + (type == vdstream::Payload::G711ALaw ? "alaw" : "mulaw"),
            server_->Dir()));
    }
    return cached;
  }

  // Opens port with a 4-second stream of pictures and the tone, plays it.
  static void Start(int port, vdstream::Payload type, double seconds = 4) {
    const std::vector<AudioPacket>& tone = Tone(type);
    ASSERT_FALSE(tone.empty()) << "the ffmpeg command made no tone";
    std::vector<std::uint8_t> data = StreamWithAudio(kW, kH, kFps, seconds, tone, type, PlainPicture);
    std::vector<std::uint8_t> header = vdstream::makeFileHeader(kW, kH, kFps, 1);
    ASSERT_TRUE(VdPlay_OpenStream(port, header.data(), 40, static_cast<VdDword>(data.size() + 65536)));
    ASSERT_TRUE(VdPlay_InputData(port, data.data(), static_cast<VdDword>(data.size())));
    ASSERT_TRUE(VdPlay_Play(port, nullptr));
  }

  static SoundServer* server_;
};

SoundServer* SoundTest::server_ = nullptr;

// Records for ms and returns the recording.
std::vector<std::int16_t> Record(SoundServer& server, int ms) {
  Recording rec(server.MonitorFile());
  return rec.Take(ms);
}

void ExpectTone(SoundServer& server, vdstream::Payload type, const char* what) {
  const std::vector<std::int16_t> rec = Record(server, 2000);
  const Span heard = Audible(rec);
  ASSERT_GT(heard.size(), SoundServer::kRate) << what << ": less than a second of sound heard";
  // The middle of what was heard, away from the edges.
  const std::size_t from = heard.from + heard.size() / 4, to = heard.to - heard.size() / 4;
  const double f = ToneFrequency(rec, from, to);
  EXPECT_NEAR(f, 440.0, 440.0 * 0.02) << what;
  EXPECT_GT(Rms(rec, from, to), 1000.0) << what;
  (void)type;
}

TEST_F(SoundTest, ToneInALawIsHeardAt440Hz) {
  Start(0, vdstream::Payload::G711ALaw);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  ExpectTone(*server_, vdstream::Payload::G711ALaw, "A-law");
  const VdPlayStats st = PortStats(0);
  EXPECT_GT(st.audioUnitsPlayed, 10u);
  EXPECT_EQ(st.audioUnitsDamaged, 0u);
  EXPECT_EQ(st.soundHeard, 1u);
}

TEST_F(SoundTest, ToneInMuLawIsHeardAt440Hz) {
  Start(0, vdstream::Payload::G711MuLaw);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  ExpectTone(*server_, vdstream::Payload::G711MuLaw, "mu-law");
}

#if VDPLAY_TEST_HAS_AAC
TEST_F(SoundTest, ToneInAacIsHeardAt440Hz) {
  Start(0, vdstream::Payload::AacAdts);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  ExpectTone(*server_, vdstream::Payload::AacAdts, "AAC");
  EXPECT_EQ(PortStats(0).audioUnitsDamaged, 0u);
}
#endif

// Level of the middle second of a tone played at volume.
double LevelAt(SoundServer& server, VdDword volume) {
  EXPECT_TRUE(VdPlay_SetVolume(0, volume));
  EXPECT_TRUE(VdPlay_PlaySound(0));
  Sleep(400);
  const std::vector<std::int16_t> rec = Record(server, 1200);
  return Rms(rec, rec.size() / 4, rec.size() * 3 / 4);
}

TEST_F(SoundTest, LevelFollowsTheVolumeLinearly) {
  Start(0, vdstream::Payload::G711ALaw, 8);
  const double full = LevelAt(*server_, 65535);
  const double half = LevelAt(*server_, 32767);
  const double none = LevelAt(*server_, 0);
  EXPECT_GT(full, 1000.0);
  EXPECT_NEAR(half / full, 0.5, 0.08) << "full " << full << ", half " << half;
  EXPECT_LT(none, 20.0);
  VdPlay_SetVolume(0, 65535);
}

TEST_F(SoundTest, AnotherPortsSoundAndStopSoundAreSilent) {
  Start(0, vdstream::Payload::G711ALaw, 8);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  Sleep(400);
  EXPECT_GT(Rms(Record(*server_, 500)), 1000.0);
  ASSERT_TRUE(VdPlay_PlaySound(1));  // port 1 has no stream: nothing to hear
  Sleep(200);
  EXPECT_LT(Rms(Record(*server_, 800)), 20.0) << "port 0 heard while port 1 has the sound";
  ASSERT_TRUE(VdPlay_PlaySound(0));
  Sleep(400);
  EXPECT_GT(Rms(Record(*server_, 500)), 1000.0) << "the sound came back to port 0";
  ASSERT_TRUE(VdPlay_StopSound());
  Sleep(200);
  EXPECT_LT(Rms(Record(*server_, 800)), 20.0) << "heard after StopSound";
}

TEST_F(SoundTest, PauseFastAndStepsAreSilentAndNormalPlayIsHeardAgain) {
  Start(0, vdstream::Payload::G711MuLaw, 10);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  Sleep(400);
  ASSERT_TRUE(VdPlay_Pause(0, 1));
  Sleep(200);
  EXPECT_LT(Rms(Record(*server_, 700)), 20.0) << "heard while paused";
  ASSERT_TRUE(VdPlay_Pause(0, 0));
  Sleep(300);
  EXPECT_GT(Rms(Record(*server_, 500)), 1000.0) << "not heard after the pause";
  ASSERT_TRUE(VdPlay_Fast(0));
  Sleep(200);
  EXPECT_LT(Rms(Record(*server_, 500)), 20.0) << "heard at a fast speed";
  ASSERT_TRUE(VdPlay_Play(0, nullptr));  // back to normal speed
  Sleep(300);
  EXPECT_GT(Rms(Record(*server_, 500)), 1000.0) << "not heard at normal speed again";
  ASSERT_TRUE(VdPlay_OneByOne(0));
  Sleep(200);
  EXPECT_LT(Rms(Record(*server_, 500)), 20.0) << "heard while stepping";
}

TEST_F(SoundTest, ResetSourceBufferSilencesTheQueuedSound) {
  Start(0, vdstream::Payload::G711ALaw, 8);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  Sleep(500);
  ASSERT_TRUE(VdPlay_ResetSourceBuffer(0));
  Sleep(200);
  EXPECT_LT(Rms(Record(*server_, 600)), 20.0) << "heard after the buffer was reset";
}

TEST_F(SoundTest, DamagedAudioUnitsAreCountedAndThePicturesGoOn) {
  std::vector<AudioPacket> audio = Tone(vdstream::Payload::AacAdts);
  for (std::size_t i = 5; i < audio.size(); i += 10)
    for (std::size_t b = 0; b < audio[i].bytes.size(); ++b) audio[i].bytes[b] = static_cast<std::uint8_t>(b * 7);
  const std::vector<std::uint8_t> data =
      StreamWithAudio(kW, kH, kFps, 2, audio, vdstream::Payload::AacAdts, PlainPicture);
  const std::vector<std::uint8_t> header = vdstream::makeFileHeader(kW, kH, kFps, 1);
  ASSERT_TRUE(VdPlay_OpenStream(0, const_cast<std::uint8_t*>(header.data()), 40,
                                static_cast<VdDword>(data.size() + 65536)));
  ASSERT_TRUE(VdPlay_InputData(0, const_cast<std::uint8_t*>(data.data()), static_cast<VdDword>(data.size())));
  ASSERT_TRUE(VdPlay_PlaySound(0));
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  Sleep(2600);
  const VdPlayStats st = PortStats(0);
  EXPECT_EQ(st.framesDisplayed, 2u * kFps);
#if VDPLAY_TEST_HAS_AAC
  EXPECT_GE(st.audioUnitsDamaged, 5u);
  EXPECT_GT(st.audioUnitsPlayed, 50u);
#endif
}

// A camera's audio unit may hold half a second: sound turned on while the
// pictures play starts at the picture on display, from the middle of the
// unit that picture falls in, not at the next unit.
TEST_F(SoundTest, SoundTurnedOnStartsAtThePictureOnDisplayInsideAUnit) {
  std::vector<AudioPacket> units;  // A-law in units of 500 ms
  for (const AudioPacket& p : Tone(vdstream::Payload::G711ALaw)) {
    if (p.stampMs % 500 == 0) units.push_back(AudioPacket{{}, p.stampMs});
    units.back().bytes.insert(units.back().bytes.end(), p.bytes.begin(), p.bytes.end());
  }
  const std::vector<std::uint8_t> data =
      StreamWithAudio(kW, kH, kFps, 2, units, vdstream::Payload::G711ALaw, PlainPicture);
  const std::vector<std::uint8_t> header = vdstream::makeFileHeader(kW, kH, kFps, 1);
  ASSERT_TRUE(VdPlay_OpenStream(0, const_cast<std::uint8_t*>(header.data()), 40,
                                static_cast<VdDword>(data.size() + 65536)));
  ASSERT_TRUE(VdPlay_InputData(0, const_cast<std::uint8_t*>(data.data()), static_cast<VdDword>(data.size())));
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  Sleep(200);
  ASSERT_TRUE(VdPlay_PlaySound(0));
  Sleep(2200);
  EXPECT_EQ(PortStats(0).audioUnitsPlayed, 4u) << "the unit under way was dropped";
}

// No server: the pictures play as without sound, nothing is printed, and the
// sound comes back once the server does.
TEST_F(SoundTest, WithoutAServerThePicturesPlayOnAndTheSoundComesBack) {
  server_->Stop();
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  Start(0, vdstream::Payload::G711ALaw, 3);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(VdPlay_PlaySound(0));
  Sleep(1500);
  const VdPlayStats during = PortStats(0);
  EXPECT_EQ(during.soundHeard, 0u);
  EXPECT_EQ(during.audioUnitsPlayed, 0u);
  Sleep(2000);
  const VdPlayStats after = PortStats(0);
  EXPECT_EQ(after.framesDisplayed, 3u * kFps);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  VdPlay_CloseStream(0);

  ASSERT_TRUE(server_->Start());
  Start(0, vdstream::Payload::G711ALaw, 6);  // no new PlaySound: the sound is still on for port 0
  Sleep(1600);
  EXPECT_EQ(PortStats(0).soundHeard, 1u) << "the sound did not come back with the server";
  EXPECT_GT(Rms(Record(*server_, 600)), 1000.0);
}

// ---------------------------------------------------------------- in step

// A 100 ms beep at every whole second with a white picture at the same
// stamps: the callback's time of each white picture against the time the
// beep's first sample reaches the null sink (support/SoundSync.h).
TEST_F(SoundTest, SoundAndPicturesStayWithin40Milliseconds) {
  const std::vector<AudioPacket> beeps = BeepPackets(9, server_->Dir());
  ASSERT_FALSE(beeps.empty());
  std::vector<std::uint8_t> data =
      StreamWithAudio(kW, kH, kFps, 9, beeps, vdstream::Payload::G711ALaw,
                      [](std::uint32_t n, std::uint8_t* picture) { FlashPicture(kW, kH, kFps, n, picture); });
  std::vector<std::uint8_t> header = vdstream::makeFileHeader(kW, kH, kFps, 1);
  FlashTimes::Clear();
  Recording rec(server_->MonitorFile());
  MonitorClock clock(rec);
  ASSERT_TRUE(VdPlay_OpenStream(0, header.data(), 40, static_cast<VdDword>(data.size() + 65536)));
  ASSERT_TRUE(VdPlay_InputData(0, data.data(), static_cast<VdDword>(data.size())));
  ASSERT_TRUE(VdPlay_SetDisplayCallBack(0, &FlashTimes::OnFrame));
  ASSERT_TRUE(VdPlay_PlaySound(0));
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  const std::vector<std::int16_t> rec9 = rec.Take(9500);
  clock.Stop();
  VdPlay_SetDisplayCallBack(0, nullptr);

  const std::vector<double> onsets = BeepOnsets(rec9, rec.StartSample(), clock);
  const auto flashes = FlashTimes::Taken();
  const std::vector<double> offsetsMs = SoundMinusPictureMs(onsets, flashes);
  ASSERT_GE(offsetsMs.size(), 6u) << onsets.size() << " beeps heard, " << flashes.size() << " flashes shown";
  std::vector<double> sorted = offsetsMs;
  std::sort(sorted.begin(), sorted.end());
  std::printf("sound minus picture over %zu flashes: median %.1f ms, min %.1f, max %.1f\n",
              sorted.size(), sorted[sorted.size() / 2], sorted.front(), sorted.back());
  for (double o : offsetsMs) EXPECT_LE(std::abs(o), 40.0) << "a beep and its flash " << o << " ms apart";
}

}  // namespace
