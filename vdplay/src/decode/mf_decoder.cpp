// Media Foundation decoder MFTs behind the PictureDecoder interface, with
// what it takes to make the system's decoders (and Wine's) behave as the
// native decoder does:
//
//  - Whole access units only: a decoder MFT fed arbitrary byte pieces makes
//    corrupt pictures, so a bare Annex-B stream is cut into access units
//    here (AnnexBSplitter), and every unit goes in as one sample.
//  - Output type: NV12 (else I420/IYUV) from the MFT's own list. The first
//    ProcessOutput, and any change of the stream's size, answers
//    MF_E_TRANSFORM_STREAM_CHANGE; the output type is then chosen again and
//    gives the coded size (640x368 for 640x360). Wine sets no display
//    aperture, so the visible part comes from the sequence parameter set's
//    cropping window (H26xHeaders), as natively.
//  - Presentation times: output sample times cannot be trusted (Wine's come
//    out unordered, with duplicates), so every unit that carries a picture
//    leaves an entry here, and each picture that comes out takes the entry
//    with the lowest time of the oldest sequence: pictures come out in
//    display order, and all pictures before an IDR come out before it.
//  - Held pictures: Wine's drain command does nothing. Instead an
//    end-of-sequence NAL unit followed by the last IDR access unit again
//    makes the decoder give out a held picture; the repeated IDR's own
//    picture is dropped when it comes out. This is repeated until every held
//    picture is out, and works the same where the drain command works.
//  - Colours: Wine's decoder takes an HD stream that names no colour space
//    (or BT.709) as BT.709 and converts it to BT.601 on the way out; the
//    sequence parameter sets are made to say BT.601, so that the coded
//    values come out as they are, as natively.
//  - Parser delay: Wine's parser keeps each unit until the next one begins;
//    an access unit delimiter after each unit ends it at once.
//  - Start and damage: nothing goes into the decoder before the first key
//    picture (IDR, an I-picture with a recovery point, an IRAP picture), so a
//    start mid-GOP is silent as natively; a unit with no NAL unit at all, and
//    one the decoder refuses, is counted as damaged.
//  - B-pictures are dropped here, before the decoder (level 1: those that
//    nothing refers to; level 2: all); low quality asks the decoder to skip
//    the loop filter where it offers that (ICodecAPI fast decode mode; Wine's
//    decoder does not).
//
// Only synchronous (software) MFTs are used; hardware decoders, which are
// asynchronous and want a Direct3D device, are not.
#include "decode/mf_decoder.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <codecapi.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "VdPlay.h"
#include "VdStreamFormat.h"
#include "decode/annexb_splitter.h"
#include "decode/h26x_headers.h"
#include "decode/mf_platform.h"
#include "frame_pool.h"

namespace vdplay {
namespace {

const GUID kFastDecodeMode = {STATIC_CODECAPI_AVDecVideoFastDecodeMode};
const GUID kDropPicWithMissingRef = {STATIC_CODECAPI_AVDecVideoDropPicWithMissingRef};

constexpr std::uint8_t kH264Delimiter[] = {0, 0, 0, 1, 0x09, 0xf0};
constexpr std::uint8_t kH265Delimiter[] = {0, 0, 0, 1, 0x46, 0x01, 0x50};
constexpr std::uint8_t kH264EndOfSequence[] = {0, 0, 0, 1, 0x0a};
constexpr std::uint8_t kH265EndOfSequence[] = {0, 0, 0, 1, 0x48, 0x01};

// ------------------------------------------------------------ decoded pictures

// How the MFT lays out its pictures, from the output type.
struct OutputLayout {
  GUID subtype = GUID_NULL;
  std::uint32_t width = 0;   // coded size of the output type
  std::uint32_t height = 0;
  std::int32_t stride = 0;   // 0: unknown (the buffer's own pitch, else the width)
  MFVideoArea aperture{};
  bool hasAperture = false;
};

// The visible part of one decoded picture within the coded one.
struct Crop {
  std::uint32_t left = 0, top = 0, width = 0, height = 0;
};

// Output samples, reused: pictures of a megabyte or more would otherwise be
// fresh memory each time. Shared by the decoder and its frames.
class SamplePool {
 public:
  ComPtr<IMFSample> take(DWORD bytes) {
    {
      std::lock_guard<std::mutex> lk(m_);
      if (bytes == bytes_ && !idle_.empty()) {
        ComPtr<IMFSample> s = idle_.back();
        idle_.pop_back();
        return s;
      }
    }
    const MfApi& mf = mfApi();
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(mf.createSample(sample.put())) || FAILED(mf.createMemoryBuffer(bytes, buffer.put())) ||
        FAILED(sample->AddBuffer(buffer.get())))
      return ComPtr<IMFSample>();
    return sample;
  }
  void giveBack(const ComPtr<IMFSample>& sample, DWORD bytes) {
    std::lock_guard<std::mutex> lk(m_);
    if (bytes == bytes_ && idle_.size() < kMaxIdle) idle_.push_back(sample);
  }
  // A new picture size: samples of the old one are not kept.
  void resize(DWORD bytes) {
    std::lock_guard<std::mutex> lk(m_);
    bytes_ = bytes;
    idle_.clear();
  }

 private:
  static constexpr std::size_t kMaxIdle = 3;
  std::mutex m_;
  DWORD bytes_ = 0;
  std::vector<ComPtr<IMFSample>> idle_;
};

// A picture as it came out of the MFT; its I420 form is made the first time
// something asks for the pixels, into pooled storage, and the sample goes
// back to the decoder's pool then.
class MfFrameBuffer final : public FrameBuffer {
 public:
  MfFrameBuffer(ComPtr<IMFSample> sample, DWORD sampleBytes, const OutputLayout& layout,
                const Crop& crop, std::shared_ptr<FramePool> pictures,
                std::shared_ptr<SamplePool> samples)
      : sample_(std::move(sample)),
        sampleBytes_(sampleBytes),
        layout_(layout),
        crop_(crop),
        pictures_(std::move(pictures)),
        samples_(std::move(samples)) {}
  ~MfFrameBuffer() override {
    if (i420_) pictures_->giveBack(std::move(i420_));
    if (sample_) samples_->giveBack(sample_, sampleBytes_);
  }
  MfFrameBuffer(const MfFrameBuffer&) = delete;
  MfFrameBuffer& operator=(const MfFrameBuffer&) = delete;

  const std::uint8_t* pixels() override {
    std::lock_guard<std::mutex> lk(m_);
    if (!i420_ && sample_) {
      i420_ = convert();
      if (i420_) {
        samples_->giveBack(sample_, sampleBytes_);  // the decoder may reuse it now
        sample_.reset();
      }
    }
    return i420_ ? i420_->data() : nullptr;
  }

 private:
  std::unique_ptr<FramePool::Storage> convert();

  std::mutex m_;
  ComPtr<IMFSample> sample_;
  DWORD sampleBytes_;
  OutputLayout layout_;
  Crop crop_;
  std::shared_ptr<FramePool> pictures_;
  std::shared_ptr<SamplePool> samples_;
  std::unique_ptr<FramePool::Storage> i420_;
};

std::unique_ptr<FramePool::Storage> MfFrameBuffer::convert() {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample_->GetBufferByIndex(0, buffer.put()))) return nullptr;
  // A 2-D buffer knows its pitch; a plain one is read with the output type's
  // stride, else the coded width.
  ComPtr<IMF2DBuffer> twoD;
  BYTE* base = nullptr;
  LONG pitch = 0;
  DWORD length = 0;
  bool locked2d = false;
  if (SUCCEEDED(buffer->QueryInterface(IID_IMF2DBuffer, reinterpret_cast<void**>(twoD.put()))) &&
      SUCCEEDED(twoD->Lock2D(&base, &pitch))) {
    locked2d = true;
    DWORD max = 0;
    buffer->GetCurrentLength(&length);
    if (length == 0) buffer->GetMaxLength(&max), length = max;
  } else {
    DWORD max = 0;
    if (FAILED(buffer->Lock(&base, &max, &length))) return nullptr;
    pitch = layout_.stride != 0 ? layout_.stride : static_cast<LONG>(layout_.width);
  }
  std::unique_ptr<FramePool::Storage> out;
  const std::size_t w = crop_.width, h = crop_.height;
  const std::size_t rows = layout_.height;
  const bool nv12 = layout_.subtype == MFVideoFormat_NV12;
  const bool yv12 = layout_.subtype == MFVideoFormat_YV12;
  const std::size_t absPitch = static_cast<std::size_t>(pitch < 0 ? -pitch : pitch);
  // Bytes the planes need at this pitch: Y, then (NV12) interleaved UV of
  // half the rows, or (I420/YV12) two planes of half pitch and half rows.
  const std::size_t needed = absPitch * rows + absPitch * (rows / 2);
  if (pitch > 0 && base && absPitch >= layout_.width && length >= needed &&
      crop_.left + w <= layout_.width && crop_.top + h <= rows) {
    out = pictures_->take(w * h * 3 / 2);
    if (out) {
      std::uint8_t* y = out->data();
      std::uint8_t* u = y + w * h;
      std::uint8_t* v = u + (w / 2) * (h / 2);
      for (std::size_t r = 0; r < h; ++r)
        std::memcpy(y + r * w, base + (crop_.top + r) * absPitch + crop_.left, w);
      const std::uint8_t* chroma = base + absPitch * rows;
      const std::size_t cTop = crop_.top / 2, cLeft = crop_.left / 2;
      for (std::size_t r = 0; r < h / 2; ++r) {
        if (nv12) {
          const std::uint8_t* src = chroma + (cTop + r) * absPitch + cLeft * 2;
          std::uint8_t* du = u + r * (w / 2);
          std::uint8_t* dv = v + r * (w / 2);
          for (std::size_t c = 0; c < w / 2; ++c) {
            du[c] = src[2 * c];
            dv[c] = src[2 * c + 1];
          }
        } else {
          const std::size_t cPitch = absPitch / 2;
          const std::uint8_t* first = chroma + (cTop + r) * cPitch + cLeft;
          const std::uint8_t* second = chroma + cPitch * (rows / 2) + (cTop + r) * cPitch + cLeft;
          std::memcpy(yv12 ? v + r * (w / 2) : u + r * (w / 2), first, w / 2);
          std::memcpy(yv12 ? u + r * (w / 2) : v + r * (w / 2), second, w / 2);
        }
      }
    }
  }
  if (locked2d) {
    twoD->Unlock2D();
  } else {
    buffer->Unlock();
  }
  return out;
}

// ------------------------------------------------------------ the decoder

class MfDecoder final : public PictureDecoder {
 public:
  explicit MfDecoder(const StreamFormat& format)
      : codec_(format.codec == vdstream::Codec::H265 ? VideoCodec::H265 : VideoCodec::H264),
        bare_(format.framing == vdstream::Framing::AnnexB),
        format_(format),
        splitter_(codec_),
        headers_(codec_) {}
  ~MfDecoder() override = default;
  MfDecoder(const MfDecoder&) = delete;
  MfDecoder& operator=(const MfDecoder&) = delete;

  std::uint32_t init();

  bool send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) override;
  bool receive(Frame& out, std::uint32_t& damaged) override;
  bool holdsPictures() const override;
  void drain() override;
  void flush() override;
  void setOptions(const DecodeOptions& options) override;

 private:
  // A unit fed to the MFT whose picture has not come out yet.
  struct Entry {
    std::uint64_t sequence = 0;  // pictures of an older sequence come out first
    std::uint32_t stampMs = 0;
    bool discard = false;        // a repeated IDR of the drain: not shown
    PictureWindow window;
  };
  // A whole access unit waiting to go in.
  struct Unit {
    std::vector<std::uint8_t> bytes;
    std::uint32_t stampMs = 0;
  };

  enum class Output { Picture, NeedInput, Failed };
  Output pullOutput(Frame& out, std::uint32_t& damaged);
  bool chooseOutputType();
  bool nextUnit(Unit& unit);
  // Feeds one unit, as the decoder's rules allow; false when it was damaged.
  bool feedUnit(Unit& unit, const UnitInfo& info);
  bool openMft(std::uint32_t width, std::uint32_t height);
  bool restartMft(std::uint32_t width, std::uint32_t height);
  bool processInput(const std::vector<std::uint8_t>& bytes);
  bool refeedForDrain();
  void forgetPending();
  std::size_t realPending() const;
  void applyLowQuality();
  bool makeFrame(ComPtr<IMFSample> sample, const Entry& entry, Frame& out);

  const VideoCodec codec_;
  const bool bare_;
  const StreamFormat format_;
  AnnexBSplitter splitter_;
  H26xHeaders headers_;

  ComPtr<IMFTransform> mft_;
  ComPtr<ICodecAPI> codecApi_;
  OutputLayout layout_;
  DWORD outputBytes_ = 0;
  bool mftProvidesSamples_ = false;
  std::shared_ptr<FramePool> pictures_;
  std::shared_ptr<SamplePool> samples_;

  std::deque<Unit> waiting_;     // whole units taken by send(), not yet fed
  std::vector<Entry> pending_;   // fed, picture not out yet
  std::uint64_t sequence_ = 0;
  std::uint64_t picturesOut_ = 0;  // stamps of a bare stream
  std::uint64_t sampleTime_ = 0;
  bool needKey_ = true;          // nothing goes in before a key picture
  bool afterRecoveryPoint_ = false;  // started at a non-IDR key: its leading B-pictures go
  std::vector<std::uint8_t> lastIdr_;  // for the drain
  std::vector<std::uint8_t> rewritten_;
  bool draining_ = false;
  std::size_t drainRefeedsLeft_ = 0;
  std::uint32_t codedWidth_ = 0;   // of the stream the decoder decodes now
  std::uint32_t codedHeight_ = 0;
  bool restartPending_ = false;    // parked_ needs a decoder made for its size
  Unit parked_;
  UnitInfo parkedInfo_;
  DecodeOptions options_;
  bool lowQualityApplied_ = false;
};

std::uint32_t MfDecoder::init() {
  const MfApi& mf = mfApi();
  if (!mf.ready) return VDPLAY_ERR_DECODER_INIT;
  pictures_ = FramePool::create();
  samples_ = std::make_shared<SamplePool>();
  if (!pictures_) return VDPLAY_ERR_ALLOC;
  return openMft(format_.width, format_.height) ? 0 : VDPLAY_ERR_DECODER_INIT;
}

bool MfDecoder::openMft(std::uint32_t width, std::uint32_t height) {
  const MfApi& mf = mfApi();
  mft_.reset();
  codecApi_.reset();
  const GUID subtype = codec_ == VideoCodec::H265 ? MFVideoFormat_HEVC : MFVideoFormat_H264;
  MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, subtype};
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  const UINT32 flags = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT | MFT_ENUM_FLAG_SORTANDFILTER;
  if (FAILED(mf.enumEx(MFT_CATEGORY_VIDEO_DECODER, flags, &input, nullptr, &activates, &count)))
    return false;
  ComPtr<IMFMediaType> inputType;
  if (FAILED(mf.createMediaType(inputType.put()))) {
    inputType.reset();  // no decoder is tried; the list is still released below
  } else {
    inputType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    inputType->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(inputType.get(), MF_MT_FRAME_SIZE, width, height);
    MFSetAttributeRatio(inputType.get(), MF_MT_FRAME_RATE, format_.fpsNum, format_.fpsDen);
    inputType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_MixedInterlaceOrProgressive);
  }
  // The first decoder that starts and takes the stream's type.
  for (UINT32 i = 0; i < count; ++i) {
    if (!mft_ && inputType) {
      ComPtr<IMFTransform> mft;
      if (SUCCEEDED(activates[i]->ActivateObject(IID_IMFTransform,
                                                 reinterpret_cast<void**>(mft.put()))) &&
          SUCCEEDED(mft->SetInputType(0, inputType.get(), 0))) {
        mft_ = mft;
      } else if (mft) {
        activates[i]->ShutdownObject();
      }
    }
    activates[i]->Release();
  }
  if (activates) mf.taskMemFree(activates);
  if (!mft_) return false;

  if (FAILED(mft_->QueryInterface(IID_ICodecAPI, reinterpret_cast<void**>(codecApi_.put()))))
    codecApi_.reset();
  if (codecApi_) {
    // A picture whose references are missing is dropped rather than shown
    // damaged, where the decoder offers that.
    VARIANT on;
    std::memset(&on, 0, sizeof on);
    on.vt = VT_UI4;
    on.ulVal = 1;
    codecApi_->SetValue(&kDropPicWithMissingRef, &on);
    lowQualityApplied_ = false;
    applyLowQuality();
  }
  if (!chooseOutputType()) {
    mft_.reset();
    return false;
  }
  mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  return true;
}

bool MfDecoder::chooseOutputType() {
  ComPtr<IMFMediaType> chosen;
  int rank = 0;  // NV12 3, I420/IYUV 2, YV12 1
  for (DWORD i = 0;; ++i) {
    ComPtr<IMFMediaType> type;
    if (FAILED(mft_->GetOutputAvailableType(0, i, type.put()))) break;
    GUID subtype = GUID_NULL;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    const int r = subtype == MFVideoFormat_NV12                                         ? 3
                  : subtype == MFVideoFormat_I420 || subtype == MFVideoFormat_IYUV ? 2
                  : subtype == MFVideoFormat_YV12                                   ? 1
                                                                                    : 0;
    if (r > rank) {
      rank = r;
      chosen = type;
    }
    if (rank == 3) break;
  }
  if (!chosen || FAILED(mft_->SetOutputType(0, chosen.get(), 0))) return false;
  OutputLayout layout;
  chosen->GetGUID(MF_MT_SUBTYPE, &layout.subtype);
  UINT32 w = 0, h = 0;
  MFGetAttributeSize(chosen.get(), MF_MT_FRAME_SIZE, &w, &h);
  layout.width = w;
  layout.height = h;
  UINT32 stride = 0;
  if (SUCCEEDED(chosen->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)))
    layout.stride = static_cast<std::int32_t>(stride);
  UINT32 blobSize = 0;
  layout.hasAperture =
      SUCCEEDED(chosen->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE,
                                reinterpret_cast<UINT8*>(&layout.aperture), sizeof layout.aperture,
                                &blobSize)) &&
      blobSize == sizeof layout.aperture;
  layout_ = layout;
  MFT_OUTPUT_STREAM_INFO info{};
  if (FAILED(mft_->GetOutputStreamInfo(0, &info))) return false;
  mftProvidesSamples_ =
      (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
  // Room for the planes even where the MFT names no size.
  outputBytes_ = std::max<DWORD>(info.cbSize, w * h * 3 / 2);
  samples_->resize(outputBytes_);
  return w >= 2 && h >= 2;
}

bool MfDecoder::send(const ByteRing::View& in, std::uint32_t, std::uint32_t stampMs) {
  const std::size_t n = in.firstLen + in.secondLen;
  if (bare_) {
    splitter_.push(in.first, in.firstLen);
    if (in.secondLen) splitter_.push(in.second, in.secondLen);
    return true;
  }
  Unit unit;
  unit.bytes.resize(n);
  if (in.firstLen) std::memcpy(unit.bytes.data(), in.first, in.firstLen);
  if (in.secondLen) std::memcpy(unit.bytes.data() + in.firstLen, in.second, in.secondLen);
  unit.stampMs = stampMs;
  waiting_.push_back(std::move(unit));
  return true;
}

bool MfDecoder::nextUnit(Unit& unit) {
  if (!waiting_.empty()) {
    unit = std::move(waiting_.front());
    waiting_.pop_front();
    return true;
  }
  if (!bare_) return false;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  if (!splitter_.next(data, size)) return false;
  unit.bytes.assign(data, data + size);
  unit.stampMs = 0;
  return true;
}

bool MfDecoder::receive(Frame& out, std::uint32_t& damaged) {
  if (!mft_ && !restartPending_) return false;  // a decoder that could not be made again
  for (;;) {
    if (mft_) {
      const Output got = pullOutput(out, damaged);
      if (got == Output::Picture) return true;
      if (got == Output::Failed) {
        // The decoder is of no more use: a fresh one takes the stream from
        // its next key picture on.
        restartMft(layout_.width, layout_.height);
        needKey_ = true;
        draining_ = false;
        return false;
      }
    }
    if (restartPending_) {
      // A new picture size: the pictures the decoder holds come out first,
      // then a decoder made for the new size takes the stream, because not
      // every decoder follows such a change (Wine's fails).
      if (mft_ && realPending() > 0 && drainRefeedsLeft_ > 0 && refeedForDrain()) continue;
      restartPending_ = false;
      if (!restartMft(parkedInfo_.window.width, parkedInfo_.window.height)) return false;
      if (!feedUnit(parked_, parkedInfo_)) ++damaged;
      parked_ = Unit();
      continue;
    }
    Unit unit;
    if (nextUnit(unit)) {
      const UnitInfo info = headers_.inspect(unit.bytes.data(), unit.bytes.size());
      if (info.hasSlice && info.key && info.newSequence && info.window.valid() && codedWidth_ &&
          (info.window.codedWidth != codedWidth_ || info.window.codedHeight != codedHeight_)) {
        parked_ = std::move(unit);
        parkedInfo_ = info;
        restartPending_ = true;
        drainRefeedsLeft_ = realPending() + 4;
        continue;
      }
      if (!feedUnit(unit, info)) ++damaged;
      continue;
    }
    if (draining_) {
      if (mft_ && realPending() > 0 && drainRefeedsLeft_ > 0 && refeedForDrain()) continue;
      // Every held picture is out (or the decoder gives out no more): later
      // input is decoded from its next key picture on.
      draining_ = false;
      forgetPending();
      needKey_ = true;
    }
    return false;
  }
}

bool MfDecoder::restartMft(std::uint32_t width, std::uint32_t height) {
  pending_.clear();
  codedWidth_ = codedHeight_ = 0;
  lastIdr_.clear();
  ++sequence_;
  return openMft(width >= 2 ? width : format_.width, height >= 2 ? height : format_.height);
}

MfDecoder::Output MfDecoder::pullOutput(Frame& out, std::uint32_t& damaged) {
  for (int attempts = 0; attempts < 8; ++attempts) {
    ComPtr<IMFSample> sample;
    if (!mftProvidesSamples_) {
      sample = samples_->take(outputBytes_);
      if (!sample) throw std::bad_alloc();
    }
    MFT_OUTPUT_DATA_BUFFER buffer{};
    buffer.pSample = sample.get();
    DWORD status = 0;
    const HRESULT hr = mft_->ProcessOutput(0, 1, &buffer, &status);
    if (buffer.pEvents) buffer.pEvents->Release();
    if (mftProvidesSamples_ && buffer.pSample) {
      sample.reset();
      *sample.put() = buffer.pSample;  // the MFT's reference is ours now
    }
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
      if (!mftProvidesSamples_) samples_->giveBack(sample, outputBytes_);
      return Output::NeedInput;
    }
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      if (!chooseOutputType()) return Output::Failed;
      continue;
    }
    if (FAILED(hr)) {
      if (!mftProvidesSamples_) samples_->giveBack(sample, outputBytes_);
      ++damaged;
      return Output::Failed;
    }
    if (pending_.empty()) {  // a picture no unit left an entry for: not shown
      if (!mftProvidesSamples_) samples_->giveBack(sample, outputBytes_);
      continue;
    }
    // The entry of the oldest sequence with the lowest stamp: the picture
    // that comes next in display order.
    std::size_t pick = 0;
    for (std::size_t i = 1; i < pending_.size(); ++i) {
      const Entry& a = pending_[i];
      const Entry& b = pending_[pick];
      if (a.sequence < b.sequence || (a.sequence == b.sequence && a.stampMs < b.stampMs)) pick = i;
    }
    const Entry entry = pending_[pick];
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(pick));
    if (entry.discard) {
      if (!mftProvidesSamples_) samples_->giveBack(sample, outputBytes_);
      attempts = 0;
      continue;
    }
    if (makeFrame(sample, entry, out)) return Output::Picture;
    ++damaged;
    attempts = 0;
  }
  return Output::NeedInput;
}

bool MfDecoder::makeFrame(ComPtr<IMFSample> sample, const Entry& entry, Frame& out) {
  Crop crop{0, 0, layout_.width, layout_.height};
  const PictureWindow& w = entry.window;
  if (w.valid() && w.left + w.width <= layout_.width && w.top + w.height <= layout_.height) {
    crop = Crop{w.left, w.top, w.width, w.height};
  } else if (layout_.hasAperture) {
    const MFVideoArea& a = layout_.aperture;
    const auto left = static_cast<std::uint32_t>(std::max<LONG>(0, a.OffsetX.value));
    const auto top = static_cast<std::uint32_t>(std::max<LONG>(0, a.OffsetY.value));
    if (a.Area.cx > 0 && a.Area.cy > 0 && left + a.Area.cx <= layout_.width &&
        top + a.Area.cy <= layout_.height)
      crop = Crop{left, top, static_cast<std::uint32_t>(a.Area.cx),
                  static_cast<std::uint32_t>(a.Area.cy)};
  }
  // I420 needs even sides: an odd last row or column is left out, and the
  // window starts on an even pixel.
  crop.left &= ~1u;
  crop.top &= ~1u;
  crop.width &= ~1u;
  crop.height &= ~1u;
  if (crop.width < 2 || crop.height < 2 || crop.width > vdstream::kMaxDimension ||
      crop.height > vdstream::kMaxDimension)
    return false;
  DWORD sampleBytes = outputBytes_;
  if (mftProvidesSamples_) sampleBytes = 0;  // not ours to pool
  try {
    out.buffer = std::make_shared<MfFrameBuffer>(std::move(sample), sampleBytes, layout_, crop,
                                                 pictures_, samples_);
  } catch (const std::bad_alloc&) {
    return false;
  }
  out.width = static_cast<int>(crop.width);
  out.height = static_cast<int>(crop.height);
  out.stampMs = bare_ ? static_cast<std::uint32_t>(picturesOut_ * 1000 * format_.fpsDen /
                                                   format_.fpsNum)
                      : entry.stampMs;
  ++picturesOut_;
  return true;
}

bool MfDecoder::feedUnit(Unit& unit, const UnitInfo& info) {
  const bool anyNal = unit.bytes.size() >= 4 &&
                      std::search(unit.bytes.begin(), unit.bytes.end(), kH264Delimiter + 1,
                                  kH264Delimiter + 4) != unit.bytes.end();
  if (!anyNal) return false;  // no NAL unit at all
  if (info.hasSlice) {
    if (needKey_) {
      if (!info.key) return true;  // before the first key picture: skipped silently
      needKey_ = false;
      afterRecoveryPoint_ = !info.newSequence;
    } else if (afterRecoveryPoint_) {
      // The B-pictures right after a key picture that is no IDR may refer to
      // pictures before it, which this decoder never had.
      if (info.bPicture || info.leading) return true;
      afterRecoveryPoint_ = false;
    }
    if (info.bPicture && (options_.throwB >= 2 || (options_.throwB == 1 && !info.reference)))
      return true;
    if (info.newSequence) {
      ++sequence_;
      if (info.window.valid()) {
        codedWidth_ = info.window.codedWidth;
        codedHeight_ = info.window.codedHeight;
      }
    }
  }
  // Units without a picture (parameter sets and the like) always go in:
  // the next key picture may need them. Sequence parameter sets say BT.601,
  // so that no decoder converts the colours (see withBt601Colour).
  if (codec_ == VideoCodec::H264 &&
      withBt601Colour(unit.bytes.data(), unit.bytes.size(), rewritten_))
    unit.bytes.swap(rewritten_);
  if (!processInput(unit.bytes)) return false;
  if (info.hasSlice && info.newSequence) lastIdr_ = unit.bytes;
  if (info.hasSlice) {
    Entry entry;
    entry.sequence = sequence_;
    entry.stampMs = unit.stampMs;
    entry.window = info.window;
    pending_.push_back(entry);
    // A decoder that swallowed pictures would keep their entries for ever:
    // far more than any reordering holds back means they are gone.
    constexpr std::size_t kMostHeld = 48;
    if (pending_.size() > kMostHeld) pending_.erase(pending_.begin());
  }
  if (info.endOfSequence) ++sequence_;
  return true;
}

bool MfDecoder::processInput(const std::vector<std::uint8_t>& bytes) {
  const MfApi& mf = mfApi();
  const std::uint8_t* delimiter = codec_ == VideoCodec::H265 ? kH265Delimiter : kH264Delimiter;
  const std::size_t delimiterBytes =
      codec_ == VideoCodec::H265 ? sizeof kH265Delimiter : sizeof kH264Delimiter;
  const DWORD total = static_cast<DWORD>(bytes.size() + delimiterBytes);
  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(mf.createSample(sample.put())) || FAILED(mf.createMemoryBuffer(total, buffer.put())))
    throw std::bad_alloc();
  BYTE* data = nullptr;
  if (FAILED(buffer->Lock(&data, nullptr, nullptr))) return false;
  std::memcpy(data, bytes.data(), bytes.size());
  // The delimiter ends the unit for a parser that would wait for the next.
  std::memcpy(data + bytes.size(), delimiter, delimiterBytes);
  buffer->Unlock();
  buffer->SetCurrentLength(total);
  sample->AddBuffer(buffer.get());
  // Times in input order: the decoder needs some; the stamps are kept here.
  const LONGLONG interval = 10000000LL * format_.fpsDen / format_.fpsNum;
  sample->SetSampleTime(static_cast<LONGLONG>(sampleTime_++) * interval);
  sample->SetSampleDuration(interval);
  HRESULT hr = mft_->ProcessInput(0, sample.get(), 0);
  if (hr == MF_E_NOTACCEPTING) {
    // Output is waiting (pullOutput stops after a few pictures without
    // entries): this unit is lost.
    return false;
  }
  return SUCCEEDED(hr);
}

bool MfDecoder::refeedForDrain() {
  --drainRefeedsLeft_;
  if (lastIdr_.empty()) return false;
  const std::uint8_t* eos = codec_ == VideoCodec::H265 ? kH265EndOfSequence : kH264EndOfSequence;
  const std::size_t eosBytes =
      codec_ == VideoCodec::H265 ? sizeof kH265EndOfSequence : sizeof kH264EndOfSequence;
  std::vector<std::uint8_t> bytes(eos, eos + eosBytes);
  bytes.insert(bytes.end(), lastIdr_.begin(), lastIdr_.end());
  ++sequence_;
  if (!processInput(bytes)) return false;
  Entry entry;
  entry.sequence = sequence_;
  entry.discard = true;
  pending_.push_back(entry);
  return true;
}

std::size_t MfDecoder::realPending() const {
  return static_cast<std::size_t>(
      std::count_if(pending_.begin(), pending_.end(), [](const Entry& e) { return !e.discard; }));
}

void MfDecoder::forgetPending() {
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                [](const Entry& e) { return !e.discard; }),
                 pending_.end());
}

bool MfDecoder::holdsPictures() const {
  if (draining_) return false;
  return (bare_ && splitter_.holds()) || realPending() > 0;
}

void MfDecoder::drain() {
  if (draining_) return;
  if (bare_) splitter_.end();  // the last unit is whole now
  draining_ = true;
  // One repeated IDR per held picture gets it out; a few more for decoders
  // that need them, and none at all where nothing is held.
  drainRefeedsLeft_ = realPending() + waiting_.size() + 4;
}

void MfDecoder::flush() {
  if (mft_) mft_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  restartPending_ = false;
  parked_ = Unit();
  waiting_.clear();
  splitter_.reset();
  pending_.clear();
  draining_ = false;
  needKey_ = true;
  afterRecoveryPoint_ = false;
  ++sequence_;
}

void MfDecoder::setOptions(const DecodeOptions& options) {
  options_ = options;
  applyLowQuality();
}

void MfDecoder::applyLowQuality() {
  if (!codecApi_ || options_.lowQuality == lowQualityApplied_) return;
  VARIANT mode;
  std::memset(&mode, 0, sizeof mode);
  mode.vt = VT_UI4;
  mode.ulVal = options_.lowQuality ? eVideoDecodeDisableLF : eVideoDecodeCompliant;
  if (SUCCEEDED(codecApi_->SetValue(&kFastDecodeMode, &mode))) lowQualityApplied_ = options_.lowQuality;
}

}  // namespace

std::uint32_t createMfDecoder(const StreamFormat& format, std::unique_ptr<PictureDecoder>& out) {
  std::unique_ptr<MfDecoder> decoder(new (std::nothrow) MfDecoder(format));
  if (!decoder) return VDPLAY_ERR_ALLOC;
  try {
    if (const std::uint32_t failed = decoder->init()) return failed;
  } catch (const std::bad_alloc&) {
    return VDPLAY_ERR_ALLOC;
  }
  out = std::move(decoder);
  return 0;
}

}  // namespace vdplay
