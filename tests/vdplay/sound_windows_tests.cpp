// The stand-in's sound stage on Windows, heard: run under Wine by
// run_wine_sound_tests.sh, which starts a PulseAudio server with a null
// sink, records its monitor to a file and makes the tones; Wine's sound
// driver plays the stand-in's waveOut output there. VDPLAY_TEST_SOUND_DIR
// names the folder with the recording and the tones (skipped without it).
#include <windows.h>
#include <mfapi.h>
#include <mftransform.h>

#include <VdPlay.h>
#include <VdStreamFormat.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/SoundMeasure.h"
#include "support/StandInPorts.h"

namespace {

using namespace sp_test;

constexpr std::uint32_t kW = 64, kH = 48, kFps = 25;

void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string SoundDir() {
  const char* dir = std::getenv("VDPLAY_TEST_SOUND_DIR");
  return dir ? dir : "";
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}

// Whether the system has an AAC decoder MFT (Wine: with GStreamer's plugins).
bool SystemDecodesAac() {
  if (FAILED(MFStartup(MF_VERSION, MFSTARTUP_LITE))) return false;
  MFT_REGISTER_TYPE_INFO input{MFMediaType_Audio, MFAudioFormat_AAC};
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  if (SUCCEEDED(MFTEnumEx(MFT_CATEGORY_AUDIO_DECODER, MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT,
                          &input, nullptr, &activates, &count))) {
    for (UINT32 i = 0; i < count; ++i) activates[i]->Release();
    CoTaskMemFree(activates);
  }
  MFShutdown();
  return count > 0;
}

class WindowsSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SoundDir().empty()) GTEST_SKIP() << "VDPLAY_TEST_SOUND_DIR is not set: run through run_wine_sound_tests.sh";
  }
  void TearDown() override {
    VdPlay_StopSound();
    VdPlay_CloseStream(0);
  }

  // Opens port 0 with 4 s of pictures and the tone, plays it with sound.
  static void Start(vdstream::Payload type) {
    const bool aac = type == vdstream::Payload::AacAdts;
    const std::vector<std::uint8_t> coded = ReadFile(SoundDir() + (aac ? "/tone.adts" : "/tone.alaw"));
    const std::vector<AudioPacket> tone = aac ? AdtsPackets(coded) : G711Packets(coded);
    ASSERT_FALSE(tone.empty()) << "no tone in " << SoundDir();
    std::vector<std::uint8_t> data = StreamWithAudio(
        kW, kH, kFps, 4, tone, type,
        [](std::uint32_t n, std::uint8_t* picture) { vdstream::fillTestPicture(picture, kW, kH, n); });
    std::vector<std::uint8_t> header = vdstream::makeFileHeader(kW, kH, kFps, 1);
    ASSERT_TRUE(VdPlay_OpenStream(0, header.data(), 40, static_cast<VdDword>(data.size() + 65536)));
    ASSERT_TRUE(VdPlay_InputData(0, data.data(), static_cast<VdDword>(data.size())));
    ASSERT_TRUE(VdPlay_SetVolume(0, 65535));
    ASSERT_TRUE(VdPlay_PlaySound(0));
    ASSERT_TRUE(VdPlay_Play(0, nullptr));
  }

  static std::vector<std::int16_t> Record(int ms) {
    Recording rec(SoundDir() + "/monitor.raw");
    return rec.Take(ms);
  }

  // Two seconds of the tone are heard at 440 Hz ± 2%.
  static void ExpectTone(const char* what) {
    const std::vector<std::int16_t> rec = Record(2500);
    const Span heard = Audible(rec);
    ASSERT_GT(heard.size(), kMonitorRate) << what << ": less than a second of sound heard";
    const std::size_t from = heard.from + heard.size() / 4, to = heard.to - heard.size() / 4;
    const double f = ToneFrequency(rec, from, to), rms = Rms(rec, from, to);
    std::printf("%s: %.2f s heard at %.1f Hz, RMS %.0f\n", what,
                static_cast<double>(heard.size()) / kMonitorRate, f, rms);
    EXPECT_NEAR(f, 440.0, 440.0 * 0.02) << what;
    EXPECT_GT(rms, 1000.0) << what;
  }
};

TEST_F(WindowsSoundTest, ALawToneIsHeardAt440HzAndStopSoundSilencesIt) {
  Start(vdstream::Payload::G711ALaw);
  ExpectTone("A-law");
  EXPECT_EQ(PortStats(0).soundHeard, 1u);
  EXPECT_EQ(PortStats(0).audioUnitsDamaged, 0u);
  ASSERT_TRUE(VdPlay_StopSound());
  Wait(300);  // what the output had queued
  EXPECT_LT(Rms(Record(700)), 20.0) << "heard after StopSound";
}

TEST_F(WindowsSoundTest, AacToneIsHeardAt440Hz) {
  if (!SystemDecodesAac()) GTEST_SKIP() << "this system has no AAC decoder MFT";
  Start(vdstream::Payload::AacAdts);
  ExpectTone("AAC");
  const VdPlayStats st = PortStats(0);
  EXPECT_EQ(st.audioUnitsDamaged, 0u);
  EXPECT_GT(st.audioUnitsPlayed, 50u);
}

}  // namespace

// Wine's sound driver can abort in its own clean-up as the process ends,
// after every test has run and reported (its PulseAudio client thread is torn
// down under it). The result is final by then: the program ends with it
// without the process's clean-up.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
