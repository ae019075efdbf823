#include "CodecClips.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <tuple>

#include "support/TempDir.h"

namespace sp_test {
namespace {

std::string EncoderArguments(const ClipRecipe& s) {
  const std::string gop = std::to_string(s.gop), bf = std::to_string(s.bFrames);
  const std::string kbps = std::to_string(s.bitrateKbps) + "k";
  const std::string rate = s.bitrateKbps == 0
                               ? "-crf " + s.quality
                               : "-b:v " + kbps + " -maxrate " + kbps + " -bufsize " + kbps;
  if (s.codec == vdstream::Codec::H265) {
    return "-c:v libx265 -preset ultrafast " + rate + " -x265-params log-level=none:bframes=" +
           bf + ":keyint=" + gop + ":min-keyint=" + gop + ":scenecut=0" +
           (s.openGop ? ":open-gop=1" : ":open-gop=0");
  }
  return "-c:v libx264 -preset veryfast " + rate + " -bf " + bf + " -g " + gop +
         " -keyint_min " + gop + " -sc_threshold 0" + (s.openGop ? " -x264-params open-gop=1" : "");
}

bool Run(const std::string& command) {
  const int rc = std::system(command.c_str());
  if (rc != 0) std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
  return rc == 0;
}

bool Demux(const std::string& path, Clip& clip) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
  bool ok = avformat_find_stream_info(format, nullptr) >= 0;
  const int video = ok ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
  ok = ok && video >= 0;
  AVPacket* packet = av_packet_alloc();
  std::int64_t firstPts = AV_NOPTS_VALUE;
  while (ok && av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == video) {
      const AVRational base = format->streams[video]->time_base;
      if (firstPts == AV_NOPTS_VALUE) firstPts = packet->pts;  // decode order starts with a key picture
      AccessUnit unit;
      unit.data.assign(packet->data, packet->data + packet->size);
      unit.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
      unit.ptsMs = static_cast<std::uint32_t>(
          av_rescale_q(packet->pts - firstPts, base, AVRational{1, 1000}));
      clip.units.push_back(std::move(unit));
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  if (video >= 0 && firstPts != AV_NOPTS_VALUE)
    clip.firstPtsMs = static_cast<std::uint32_t>(
        av_rescale_q(firstPts, format->streams[video]->time_base, AVRational{1, 1000}));
  avformat_close_input(&format);
  return ok && !clip.units.empty();
}

bool ReadWholeFile(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !out.empty();
}

bool LoadReference(const std::string& path, Clip& clip) {
  std::ifstream in(path, std::ios::binary);
  const std::size_t size = vdstream::pictureBytes(clip.recipe.width, clip.recipe.height);
  Bytes picture(size);
  while (in.read(reinterpret_cast<char*>(picture.data()), static_cast<std::streamsize>(size)))
    clip.reference.push_back(picture);
  return !clip.reference.empty();
}

}  // namespace

const Clip& MakeClip(const ClipRecipe& recipe) {
  static std::mutex mutex;
  static std::map<std::string, Clip>* cache = new std::map<std::string, Clip>;
  const std::string key = std::to_string(static_cast<int>(recipe.codec)) + "/" +
                          std::to_string(recipe.width) + "x" + std::to_string(recipe.height) + "/" +
                          std::to_string(recipe.fps) + "/" + std::to_string(recipe.frames) + "/" +
                          std::to_string(recipe.bFrames) + "/" + std::to_string(recipe.gop) + "/" +
                          std::to_string(recipe.openGop) + "/" + recipe.quality + "/" +
                          std::to_string(recipe.bitrateKbps) + "/" + recipe.filter + "/" +
                          std::to_string(recipe.decodeReference);
  std::lock_guard<std::mutex> lock(mutex);
  auto found = cache->find(key);
  if (found != cache->end()) return found->second;

  Clip clip;
  clip.recipe = recipe;
  TempDir dir;
  const std::string ts = dir.File("clip.ts"), yuv = dir.File("reference.yuv");
  const std::string source = "testsrc2=size=" + std::to_string(recipe.width) + "x" +
                             std::to_string(recipe.height) + ":rate=" + std::to_string(recipe.fps) +
                             (recipe.filter.empty() ? "" : "," + recipe.filter);
  const bool ok =
      Run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i " + source + " -frames:v " +
          std::to_string(recipe.frames) + " -pix_fmt yuv420p " + EncoderArguments(recipe) +
          " -f mpegts " + ts) &&
      (!recipe.decodeReference ||
       Run("ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -i " + ts +
           " -f rawvideo -pix_fmt yuv420p " + yuv)) &&
      Demux(ts, clip) && ReadWholeFile(ts, clip.transportStream) &&
      (!recipe.decodeReference || LoadReference(yuv, clip));
  if (!ok) {
    std::fprintf(stderr, "clip %s could not be made\n", key.c_str());
    clip = Clip{};
  }
  for (const AccessUnit& u : clip.units) clip.displayPtsMs.push_back(u.ptsMs);
  std::sort(clip.displayPtsMs.begin(), clip.displayPtsMs.end());
  return cache->emplace(key, std::move(clip)).first->second;
}

}  // namespace sp_test
