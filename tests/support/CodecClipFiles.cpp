// The codec clips of the Windows tests: Windows has no FFmpeg, so the clips
// are made at test time on the build machine, before the test programs run
// (the test fixture codec_clip_files, MakeCodecClipFiles.cmake): the ffmpeg
// command encodes the recipe into MPEG-TS, copies its video out as a bare
// Annex-B stream, decodes it as the reference, and ffprobe lists its packets
// (presentation time, size, key flag). Here the stream is cut into access
// units by those sizes, as libavformat cut the packets; the MPEG-TS file
// itself comes along as it is.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "CodecClips.h"

#ifndef SP_CODEC_CLIP_DIR
#error "SP_CODEC_CLIP_DIR names the folder of the clip files"
#endif

namespace sp_test {

// The file name of a recipe's clip; MakeCodecClipFiles.cmake reads the same
// fields back from it.
std::string ClipFileStem(const ClipRecipe& r) {
  std::ostringstream s;
  s << (r.codec == vdstream::Codec::H265 ? "h265" : "h264") << '-' << r.width << '-' << r.height
    << '-' << r.fps << '-' << r.frames << '-' << r.bFrames << '-' << r.gop << '-'
    << (r.openGop ? 1 : 0) << '-' << r.quality << '-' << r.bitrateKbps << '-'
    << (r.decodeReference ? 1 : 0);
  return s.str();
}

namespace {

bool ReadFile(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool Load(const std::string& stem, Clip& clip) {
  const std::string base = std::string(SP_CODEC_CLIP_DIR) + "/" + stem;
  Bytes stream;
  std::ifstream list(base + ".csv");
  if (!list || !ReadFile(base + ".es", stream)) return false;
  // ffprobe's CSV: pts,size,flags (decode order).
  std::string line;
  std::size_t at = 0;
  long long firstPts = 0;
  bool first = true;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string pts, size, flags;
    if (!std::getline(fields, pts, ',') || !std::getline(fields, size, ',')) continue;
    std::getline(fields, flags, ',');
    const long long p = std::stoll(pts);
    const std::size_t n = static_cast<std::size_t>(std::stoull(size));
    if (at + n > stream.size()) return false;
    if (first) firstPts = p, first = false;
    AccessUnit unit;
    unit.data.assign(stream.begin() + static_cast<std::ptrdiff_t>(at),
                     stream.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    unit.key = flags.find('K') != std::string::npos;
    // MPEG-TS times are in 1/90000 s; rounded to the nearest millisecond.
    const long long d = p - firstPts;
    unit.ptsMs = static_cast<std::uint32_t>(d >= 0 ? (d + 45) / 90 : -((-d + 45) / 90));
    clip.units.push_back(std::move(unit));
  }
  if (clip.units.empty() || at != stream.size()) return false;
  clip.firstPtsMs = static_cast<std::uint32_t>((firstPts + 45) / 90);
  if (!ReadFile(base + ".ts", clip.transportStream) || clip.transportStream.empty()) return false;
  if (clip.recipe.decodeReference) {
    Bytes all;
    if (!ReadFile(base + ".yuv", all)) return false;
    const std::size_t size = vdstream::pictureBytes(clip.recipe.width, clip.recipe.height);
    for (std::size_t p = 0; p + size <= all.size(); p += size)
      clip.reference.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(p),
                                  all.begin() + static_cast<std::ptrdiff_t>(p + size));
    if (clip.reference.empty()) return false;
  }
  return true;
}

}  // namespace

const Clip& MakeClip(const ClipRecipe& recipe) {
  static std::mutex mutex;
  static std::map<std::string, Clip>* cache = new std::map<std::string, Clip>;
  const std::string stem = ClipFileStem(recipe);
  std::lock_guard<std::mutex> lock(mutex);
  auto found = cache->find(stem);
  if (found != cache->end()) return found->second;
  Clip clip;
  clip.recipe = recipe;
  if (!recipe.filter.empty() || !Load(stem, clip)) {
    std::fprintf(stderr,
                 "clip %s was not made: the test fixture codec_clip_files makes the recipes "
                 "listed in tests/support/CodecClips.cmake (SP_WINDOWS_CLIP_RECIPES), in %s\n",
                 stem.c_str(), SP_CODEC_CLIP_DIR);
    clip = Clip{};
  }
  for (const AccessUnit& u : clip.units) clip.displayPtsMs.push_back(u.ptsMs);
  std::sort(clip.displayPtsMs.begin(), clip.displayPtsMs.end());
  return cache->emplace(stem, std::move(clip)).first->second;
}

}  // namespace sp_test
