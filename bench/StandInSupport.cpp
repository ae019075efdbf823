#include "StandInSupport.h"

#include <VdStreamFormat.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "player/SinglePlayer.h"

namespace bench {
namespace {

constexpr std::uint32_t kDistinctPictures = 25;

void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

void OpenCifStreams(ISinglePlayer* player, const std::vector<std::int32_t>& hostPorts,
                    std::uint32_t fps) {
  std::vector<std::uint8_t> header = vdstream::makeFileHeader(kCifWidth, kCifHeight, fps, 1);
  for (std::int32_t port : hostPorts) {
    if (player->Play_SetOpenMode(port, 0) != SP_OK ||
        player->Play_OpenStream(nullptr, port, header.data(),
                                static_cast<std::uint32_t>(header.size()), 0) != SP_OK) {
      throw std::runtime_error("cannot open a stream on host port " + std::to_string(port));
    }
  }
}

void CloseStreams(ISinglePlayer* player, const std::vector<std::int32_t>& hostPorts) {
  for (std::int32_t port : hostPorts) player->Play_CloseStream(port);
}

std::int32_t DecoderPortOf(ISinglePlayer* player, std::int32_t hostPort) {
  // The benchmarks link the player's code, so they may look at its table.
  std::int32_t decoderPort = -1;
  if (!static_cast<sp::SinglePlayer*>(player)->LookupDecoderPort(hostPort, decoderPort)) {
    return -1;
  }
  return decoderPort;
}

RealRateFeeder::RealRateFeeder(ISinglePlayer* player, std::vector<std::int32_t> hostPorts,
                               std::uint32_t frameLimit, std::uint32_t fps)
    : player_(player),
      ports_(std::move(hostPorts)),
      frameLimit_(frameLimit),
      fps_(fps),
      fed_(ports_.size()) {
  const std::size_t bytes = vdstream::pictureBytes(kCifWidth, kCifHeight);
  std::vector<std::uint8_t> picture(bytes);
  for (std::uint32_t i = 0; i < kDistinctPictures; ++i) {
    vdstream::fillTestPicture(picture.data(), kCifWidth, kCifHeight, i);
    packets_.push_back(vdstream::makePacket(picture.data(), bytes, 0, vdstream::Payload::Raw));
  }
  for (auto& count : fed_) count.store(0);
}

RealRateFeeder::~RealRateFeeder() { Stop(); }

void RealRateFeeder::AddAudio(std::size_t portIndex, std::vector<std::vector<std::uint8_t>> packets,
                              std::vector<std::uint32_t> stampsMs) {
  audioPort_ = portIndex;
  audio_ = std::move(packets);
  audioStamps_ = std::move(stampsMs);
}

void RealRateFeeder::Start() { thread_ = std::thread(&RealRateFeeder::Run, this); }

void RealRateFeeder::Stop() {
  stop_.store(true);
  Join();
}

void RealRateFeeder::Join() {
  if (thread_.joinable()) thread_.join();
}

std::vector<std::uint32_t> RealRateFeeder::FramesFed() const {
  std::vector<std::uint32_t> result;
  for (const auto& count : fed_) result.push_back(count.load());
  return result;
}

void RealRateFeeder::Run() {
  using Clock = std::chrono::steady_clock;
  const auto interval = std::chrono::microseconds(1000000 / fps_);
  const Clock::time_point start = Clock::now();
  std::size_t nextAudio = 0;
  for (std::uint32_t frame = 0; frameLimit_ == 0 || frame < frameLimit_; ++frame) {
    const Clock::time_point due = start + frame * interval;
    std::this_thread::sleep_until(due);
    if (stop_.load()) return;
    const std::int64_t lateUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due).count();
    if (lateUs > worstLatenessUs_.load()) worstLatenessUs_.store(lateUs);

    std::vector<std::uint8_t>& packet = packets_[frame % packets_.size()];
    putLe32(packet.data() + 8, frame * 1000 / fps_);  // the packet's time stamp in ms
    for (std::size_t i = 0; i < ports_.size(); ++i) {
      // The audio of this picture's interval goes just before it.
      const std::uint64_t nextPictureMs = std::uint64_t{frame + 1} * 1000 / fps_;
      while (i == audioPort_ && nextAudio < audio_.size() && audioStamps_[nextAudio] < nextPictureMs) {
        std::vector<std::uint8_t>& audio = audio_[nextAudio++];
        if (player_->Play_InputData(ports_[i], audio.data(), static_cast<std::uint32_t>(audio.size()),
                                    0) == SP_OK) {
          audioFed_.fetch_add(1);
        } else {
          audioRefused_.fetch_add(1);
        }
      }
      const std::int32_t result = player_->Play_InputData(
          ports_[i], packet.data(), static_cast<std::uint32_t>(packet.size()), 0);
      if (result == SP_OK) {
        fed_[i].fetch_add(1);
      } else {
        refused_.fetch_add(1);
      }
    }
  }
}

}  // namespace bench
