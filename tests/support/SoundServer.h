// A private PulseAudio server for the sound tests (POSIX only): a null sink
// (no sound device needed) whose monitor is recorded with parec, and the
// measurements made on the recording (SoundMeasure.h). The server runs with
// its own runtime folder and socket; PULSE_SERVER points this process (and
// parec) at it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/SoundMeasure.h"

namespace sp_test {

inline bool ProgramFound(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs argv with stdout to outPath (or /dev/null) and stderr to /dev/null;
// returns the child's pid.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& outPath = "") {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  const int out = outPath.empty() ? null : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(null, 0);
  dup2(out, 1);
  dup2(null, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

inline void StopChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

class SoundServer {
 public:
  static constexpr std::uint32_t kRate = kMonitorRate;

  static bool Available() { return ProgramFound("pulseaudio") && ProgramFound("parec"); }

  // Starts the server in a new folder; Running() tells whether it answers.
  SoundServer() {
    char tmpl[] = "/tmp/vdplay-sound-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir_ = tmpl;
    socket_ = dir_ + "/native";
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    Start();
  }
  ~SoundServer() {
    Stop();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  bool Start() {
    const std::string env = "HOME=" + dir_;
    setenv("PULSE_RUNTIME_PATH", (dir_ + "/runtime").c_str(), 1);
    setenv("PULSE_STATE_PATH", (dir_ + "/state").c_str(), 1);
    pid_ = Spawn({"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
                  "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
                  "-L", "module-null-sink sink_name=vdsink rate=" + std::to_string(kRate),
                  "-L", "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1"});
    for (int i = 0; i < 300; ++i) {  // up to 6 s
      if (std::system("pactl info >/dev/null 2>&1") == 0) {
        // An idle null sink renders in blocks of up to 2 s, and a stream
        // that starts then waits for the block to end; a recorder asking
        // for 10 ms keeps the sink's blocks short, as a real device's are.
        // It takes effect once the block under way ends.
        // The same recorder writes the monitor to a file for the whole
        // life of the server; a Recording takes a slice of it.
        keeper_ = Spawn({"parec", "-d", "vdsink.monitor", "--format=s16le",
                         "--rate=" + std::to_string(kRate), "--channels=1",
                         "--latency-msec=10", "--raw"},
                        MonitorFile());
        std::this_thread::sleep_for(std::chrono::milliseconds(2200));
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void Stop() {
    StopChild(keeper_);
    keeper_ = -1;
    StopChild(pid_);
    pid_ = -1;
    unlink(socket_.c_str());
  }
  bool Running() const { return pid_ > 0 && std::system("pactl info >/dev/null 2>&1") == 0; }
  const std::string& Dir() const { return dir_; }
  std::string MonitorFile() const { return dir_ + "/monitor.raw"; }

 private:
  std::string dir_;
  std::string socket_;
  pid_t pid_ = -1;
  pid_t keeper_ = -1;
};

// ---------------------------------------------------------------- clips

// Output of an ffmpeg command (the whole file it writes); empty on failure.
inline std::vector<std::uint8_t> FfmpegBytes(const std::string& args, const std::string& dir) {
  const std::string out = dir + "/ffmpeg.out";
  const std::string cmd = "ffmpeg -nostdin -loglevel error -y " + args + " '" + out + "'";
  std::vector<std::uint8_t> bytes;
  if (std::system(cmd.c_str()) != 0) return bytes;
  if (FILE* f = std::fopen(out.c_str(), "rb")) {
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace sp_test
