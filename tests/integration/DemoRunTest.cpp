// The demo host run as a program (POSIX only): its CPU time while paused,
// and real video files played through the player and the stand-in decoder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>
#include <string>
#include <vector>

#include <VdStreamFormat.h>

#include "support/TempDir.h"

namespace {

struct DemoResult {
  int exitCode = -1;  // -1: killed or did not end in time
  std::string output;
  double seconds = 0;
  double cpuSeconds = 0;  // user + system time of the demo
};

// Runs the demo with args in folder, stdout and stderr together, killing it
// after timeoutSeconds.
DemoResult RunDemo(const std::vector<std::string>& args, const std::string& folder,
            double timeoutSeconds = 60) {
  DemoResult run;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 2);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    if (chdir(folder.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    // The demo links the real library, which natively reads the machine's
    // configuration under /q38: where that folder exists, the demo runs in
    // a mount namespace of its own with an empty folder over it (as root,
    // or else in a user namespace of its own).
    const bool machineFolder = access("/q38", F_OK) == 0;
    char unshare[] = "unshare";
    char namespaces[] = "-m";
    char userNamespaces[] = "-rm";
    char shell[] = "sh";
    char command[] = "-c";
    char mountThenRun[] = "mount -t tmpfs tmpfs /q38 && exec \"$0\" \"$@\"";
    if (machineFolder) {
      argv = {unshare, geteuid() == 0 ? namespaces : userNamespaces, shell, command, mountThenRun};
    }
    argv.push_back(const_cast<char*>(SPDEMO_TEST_PROGRAM));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  bool killed = false;
  for (;;) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > timeoutSeconds && !killed) {
      kill(child, SIGKILL);
      killed = true;
    }
    pollfd readable{pipeEnds[0], POLLIN, 0};
    if (poll(&readable, 1, 100) <= 0) continue;
    const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
  if (!killed && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

bool Ffmpeg(const std::string& arguments, const std::string& folder) {
  const std::string command =
      "cd '" + folder + "' && " + SPDEMO_TEST_FFMPEG + " -v error -y " + arguments;
  return std::system(command.c_str()) == 0;
}

// The number after "frames shown " in the demo's summary, or -1.
long FramesShown(const std::string& output) {
  std::smatch match;
  if (!std::regex_search(output, match, std::regex("frames shown ([0-9]+)"))) return -1;
  return std::stol(match[1]);
}

// A whole file in one read (byte-wise reading is slow under valgrind).
std::string ReadLarge(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string bytes(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
  in.seekg(0);
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// The pixels of a 24-bit bottom-up BMP of width by height as RGB, top row
// first; empty when the file is no such BMP.
std::vector<std::uint8_t> BmpRgb(const std::string& path, int width, int height) {
  const std::string bmp = ReadLarge(path);
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (bmp.size() != 54 + stride * height || bmp.compare(0, 2, "BM") != 0) return {};
  std::int32_t w = 0, h = 0;
  std::memcpy(&w, &bmp[18], 4);
  std::memcpy(&h, &bmp[22], 4);
  if (w != width || h != height) return {};
  std::vector<std::uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const char* row = &bmp[54 + stride * (height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      for (int channel = 2; channel >= 0; --channel) rgb.push_back(row[3 * x + channel]);
    }
  }
  return rgb;
}

// BT.601 limited range, written out here independently of the decoder.
void I420ToRgb(const unsigned char* frame, int width, int height, int x, int y, double rgb[3]) {
  const std::size_t c = static_cast<std::size_t>(y / 2) * (width / 2) + x / 2;
  const double Y = frame[static_cast<std::size_t>(y) * width + x] - 16.0;
  const double U = frame[static_cast<std::size_t>(width) * height + c] - 128.0;
  const double V = frame[static_cast<std::size_t>(width) * height * 5 / 4 + c] - 128.0;
  const auto clamp = [](double v) { return std::min(255.0, std::max(0.0, std::round(v))); };
  rgb[0] = clamp(1.164 * Y + 1.596 * V);
  rgb[1] = clamp(1.164 * Y - 0.392 * U - 0.813 * V);
  rgb[2] = clamp(1.164 * Y + 2.017 * U);
}

// PSNR of the RGB picture against an I420 picture, over every step-th pixel.
double Psnr(const std::vector<std::uint8_t>& rgb, const unsigned char* frame, int width,
            int height, int step) {
  double squares = 0;
  std::size_t samples = 0;
  for (int y = 0; y < height; y += step) {
    for (int x = 0; x < width; x += step) {
      double want[3];
      I420ToRgb(frame, width, height, x, y, want);
      const std::uint8_t* got = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int ch = 0; ch < 3; ++ch) squares += (got[ch] - want[ch]) * (got[ch] - want[ch]);
      samples += 3;
    }
  }
  return squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / squares);
}

// The PSNR of the RGB picture against the I420 picture of a raw file that
// it resembles most (found on a coarse grid first, to stay quick under
// valgrind).
double BestPsnr(const std::vector<std::uint8_t>& rgb, int width, int height,
                const std::string& i420Frames) {
  const std::string frames = ReadLarge(i420Frames);
  const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 3 / 2;
  const unsigned char* best = nullptr;
  double bestCoarse = -1;
  for (std::size_t at = 0; at + frameBytes <= frames.size(); at += frameBytes) {
    const auto* frame = reinterpret_cast<const unsigned char*>(&frames[at]);
    const double coarse = Psnr(rgb, frame, width, height, 8);
    if (coarse > bestCoarse) {
      bestCoarse = coarse;
      best = frame;
    }
  }
  return best ? Psnr(rgb, best, width, height, 1) : 0;
}

// A paused run shows the stream's first picture and stands on it: the
// snapshot is that picture, and waiting costs next to no CPU.
TEST(DemoRun, PausedPlaybackShowsTheFirstPictureAndSleeps) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 100 -pix_fmt yuv420p"
                     " clip.y4m",
                     dir.Slashed()));
  ASSERT_TRUE(Ffmpeg("-i clip.y4m -frames:v 1 -f rawvideo -pix_fmt yuv420p first.yuv",
                     dir.Slashed()));
  ASSERT_EQ(RunDemo({"pack", "clip.y4m", "clip.vdps", "--raw"}, dir.Slashed()).exitCode, 0);

  const DemoResult paused = RunDemo(
      {"play", "clip.vdps", "--state", "2", "--duration", "4", "--snapshot", "paused.bmp"},
      dir.Slashed());
  EXPECT_EQ(paused.exitCode, 0) << paused.output;
  EXPECT_EQ(FramesShown(paused.output), 1) << paused.output;
  EXPECT_GE(paused.seconds, 4);
  // Waiting in a loop would take a CPU-second per second; sleeping takes
  // next to nothing beyond start-up and the second of data read ahead.
  EXPECT_LT(paused.cpuSeconds, 1.0) << paused.output;
  std::printf("paused 4 s: %.2f CPU-seconds in %.2f s\n", paused.cpuSeconds, paused.seconds);

  const auto rgb = BmpRgb(dir.File("paused.bmp"), 352, 288);
  ASSERT_FALSE(rgb.empty()) << "no 352x288 BMP snapshot of the paused picture";
  EXPECT_GE(BestPsnr(rgb, 352, 288, dir.File("first.yuv")), 40)
      << "the paused snapshot is not the first picture";
}

TEST(DemoRun, H264Mp4At720pPlaysToTheEndAtRealRateWithACorrectSnapshot) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 75 -pix_fmt yuv420p"
                     " -c:v libx264 -preset veryfast -bf 2 clip.mp4",
                     dir.Slashed()));
  // FFmpeg's own decode of the pictures around the snapshot, a second in.
  ASSERT_TRUE(Ffmpeg("-i clip.mp4 -vf select='between(n\\,15\\,40)' -vsync 0 -f rawvideo"
                     " -pix_fmt yuv420p frames.yuv",
                     dir.Slashed()));

  const DemoResult run = RunDemo({"play", "clip.mp4", "--snapshot", "shot.bmp"}, dir.Slashed());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("(end of the data)"), std::string::npos) << run.output;
  EXPECT_EQ(FramesShown(run.output), 75) << run.output;
  EXPECT_GT(run.seconds, 2.9) << "75 frames at 25 fps take 3 s";
  EXPECT_LT(run.seconds, 8) << run.output;

  const auto rgb = BmpRgb(dir.File("shot.bmp"), 1280, 720);
  ASSERT_FALSE(rgb.empty()) << "no 1280x720 BMP snapshot";
  const double psnr = BestPsnr(rgb, 1280, 720, dir.File("frames.yuv"));
  EXPECT_GE(psnr, 40) << "the snapshot is none of the pictures FFmpeg decodes";
  std::printf("720p H.264: 75 frames in %.2f s, %.2f CPU-seconds; snapshot %.1f dB\n",
              run.seconds, run.cpuSeconds, psnr);
}

TEST(DemoRun, H265MatroskaPlaysEveryPicture) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 30 -pix_fmt yuv420p"
                     " -c:v libx265 -preset ultrafast -x265-params log-level=error clip.mkv",
                     dir.Slashed()));
  const DemoResult run = RunDemo({"play", "clip.mkv"}, dir.Slashed());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(FramesShown(run.output), 30) << run.output;
}

TEST(DemoRun, BareAnnexBStreamFilePlaysEveryPicture) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 30 -pix_fmt yuv420p"
                     " -c:v libx264 -preset veryfast -bf 2 -f h264 clip.h264",
                     dir.Slashed()));
  const auto header = vdstream::makeFileHeader(352, 288, 25, 1, vdstream::Codec::H264,
                                               vdstream::Framing::AnnexB);
  sp_test::WriteFile(dir.File("clip.vdps"), std::string(header.begin(), header.end()) +
                                                sp_test::ReadFile(dir.File("clip.h264")));
  // The file is fed in pieces that are no pictures; the run still waits
  // for the last picture.
  const DemoResult run = RunDemo({"play", "clip.vdps"}, dir.Slashed());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(FramesShown(run.output), 30) << run.output;
}

TEST(DemoRun, CutMp4EndsWithAnErrorWithinSeconds) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 50 -pix_fmt yuv420p"
                     " -c:v libx264 -preset veryfast clip.mp4",
                     dir.Slashed()));
  ASSERT_TRUE(Ffmpeg("-i clip.mp4 -c copy -movflags +faststart indexed-first.mp4",
                     dir.Slashed()));
  for (const char* name : {"clip.mp4", "indexed-first.mp4"}) {
    SCOPED_TRACE(name);
    const std::string whole = sp_test::ReadFile(dir.File(name));
    sp_test::WriteFile(dir.File(name), whole.substr(0, whole.size() * 2 / 3));
    const DemoResult run = RunDemo({"play", name}, dir.Slashed(), 20);
    EXPECT_NE(run.exitCode, 0) << run.output;
    EXPECT_NE(run.exitCode, -1) << "did not end: " << run.output;
    EXPECT_LT(run.seconds, 6) << run.output;
  }
}

}  // namespace

TEST(DemoRun, ProgramAndTransportStreamFilesPlayAsTheyAre) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i sine=frequency=440"
                     " -frames:v 50 -t 2 -pix_fmt yuv420p -c:v libx264 -preset veryfast -bf 2"
                     " -c:a aac -f mpegts clip.ts",
                     dir.Slashed()));
  // A recorder's program stream: its PES packets are not cut at pictures.
  ASSERT_TRUE(Ffmpeg("-i clip.ts -c:v copy -c:a mp2 -f vob clip.vob", dir.Slashed()));
  for (const char* file : {"clip.ts", "clip.vob"}) {
    const DemoResult run = RunDemo({"play", file}, dir.Slashed());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("handed over as it is"), std::string::npos) << run.output;
    EXPECT_EQ(FramesShown(run.output), 50) << run.output;
  }
}

TEST(DemoRun, LiveTransportStreamOverUdpFromAnFfmpegSender) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 50 -pix_fmt yuv420p"
                     " -c:v libx264 -preset veryfast -bf 0 -g 25 -f mpegts clip.ts",
                     dir.Slashed()));
  const std::string address = "udp://127.0.0.1:" + std::to_string(20000 + getpid() % 20000);
  // The sender starts once the demo listens, and sends at the stream's rate.
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    Ffmpeg("-re -i clip.ts -c copy -f mpegts '" + address + "?pkt_size=1316'", dir.Slashed());
  });
  const DemoResult run = RunDemo({"play", address}, dir.Slashed(), 30);
  sender.join();
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("live MPEG transport stream over UDP"), std::string::npos)
      << run.output;
  EXPECT_EQ(FramesShown(run.output), 50) << run.output;
}

TEST(DemoRun, BareStreamCutInTheMiddleOfAGroupOfPicturesPlaysWithoutComplaint) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 60 -pix_fmt yuv420p"
                     " -c:v libx264 -preset veryfast -bf 2 -g 25 -f h264 whole.h264",
                     dir.Slashed()));
  const std::string whole = sp_test::ReadFile(dir.File("whole.h264"));
  sp_test::WriteFile(dir.File("joined.h264"), whole.substr(whole.size() / 5));
  const DemoResult run = RunDemo({"play", "joined.h264"}, dir.Slashed());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_GT(FramesShown(run.output), 20) << run.output;
  EXPECT_NE(run.output.find("damaged packets skipped 0"), std::string::npos) << run.output;
}
