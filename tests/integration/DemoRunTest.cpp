// The demo host run as a program (POSIX only): its CPU time while paused,
// and real video files played through the player and the stand-in decoder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

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
    std::vector<char*> argv{const_cast<char*>(SPDEMO_TEST_PROGRAM)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
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

TEST(DemoRun, PausedPlaybackSleeps) {
  sp_test::TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 100 -pix_fmt yuv420p"
                     " clip.y4m",
                     dir.Slashed()));
  ASSERT_EQ(RunDemo({"pack", "clip.y4m", "clip.vdps", "--raw"}, dir.Slashed()).exitCode, 0);

  const DemoResult paused = RunDemo({"play", "clip.vdps", "--state", "2", "--duration", "4"},
                             dir.Slashed());
  EXPECT_EQ(paused.exitCode, 0) << paused.output;
  EXPECT_GE(paused.seconds, 4);
  // Waiting in a loop would take a CPU-second per second; sleeping takes
  // next to nothing beyond start-up and the second of data read ahead.
  EXPECT_LT(paused.cpuSeconds, 1.0) << paused.output;
  std::printf("paused 4 s: %.2f CPU-seconds in %.2f s\n", paused.cpuSeconds, paused.seconds);
}

}  // namespace
