// The sound stage: one thread for the library that plays the audio of the
// one port VdPlay_PlaySound named. It takes the port's audio units (the
// source buffer's AudioQueue), decodes them (decode/audio_decoder.h), scales
// them by the port's volume and writes them to the system's sound output
// (render/sound_output.h). Nothing else waits for it: the pictures go on
// whatever the sound does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vdplay {

class Port;

class SoundLoop {
 public:
  using PortAt = Port* (*)(int port);
  explicit SoundLoop(PortAt portAt) : portAt_(portAt) {}
  SoundLoop(const SoundLoop&) = delete;
  SoundLoop& operator=(const SoundLoop&) = delete;

  // Sound on for port (off for the others). Starts the thread on first use;
  // false when it cannot be started.
  bool playSound(int port);
  // Sound off.
  void stopSound();
  // Process exit: the thread ends, waited for at most until deadline.
  void stopForExit(std::chrono::steady_clock::time_point deadline);

 private:
  void threadMain();

  const PortAt portAt_;
  std::mutex m_;
  std::condition_variable wake_;
  std::thread thread_;
  int port_ = -1;              // the port whose sound is on, or -1
  std::uint64_t requests_ = 0; // PlaySound calls: each one tries a missing output again
  bool exit_ = false;
  bool ended_ = false;
};

}  // namespace vdplay
