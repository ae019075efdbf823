// AAC through a Media Foundation decoder MFT. The units are ADTS frames;
// the decoder gets each frame's raw AAC (the header taken off) as one
// sample, with the AudioSpecificConfig made from the header in its input
// type (payload type 0, which every AAC decoder MFT takes; the ADTS form is
// not taken by all of them). A frame of another configuration (rate,
// channels, object type) opens a new decoder for it. The output is 16-bit
// PCM at the stream's rate; more than two channels are cut to the first two.
#include "decode/mf_audio_decoder.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "VdPlay.h"
#include "decode/adts_header.h"
#include "decode/mf_platform.h"

namespace vdplay {
namespace {

// Room for the largest decoded frame: 2048 samples (with SBR) of 8 channels.
constexpr DWORD kOutputBytes = 2048 * 8 * 2;

bool findAacDecoders(IMFActivate*** activates, UINT32* count) {
  const MfApi& mf = mfApi();
  if (!mf.ready) return false;
  MFT_REGISTER_TYPE_INFO input{MFMediaType_Audio, MFAudioFormat_AAC};
  const UINT32 flags = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT | MFT_ENUM_FLAG_SORTANDFILTER;
  if (FAILED(mf.enumEx(MFT_CATEGORY_AUDIO_DECODER, flags, &input, nullptr, activates, count))) return false;
  return true;
}

void releaseAll(IMFActivate** activates, UINT32 count) {
  for (UINT32 i = 0; i < count; ++i) activates[i]->Release();
  if (activates) mfApi().taskMemFree(activates);
}

class MfAacDecoder final : public AudioDecoder {
 public:
  bool decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) override;
  void flush() override {
    if (mft_) mft_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  }

 private:
  bool open(const AdtsFrame& frame);
  bool chooseOutputType();
  bool feed(const std::uint8_t* raw, std::size_t size, PcmBlock& out);
  bool pullOutput(PcmBlock& out);
  void append(IMFSample* sample, PcmBlock& out);

  ComPtr<IMFTransform> mft_;
  AdtsFrame config_;
  bool configured_ = false;
  std::uint32_t rate_ = 0, channels_ = 0;
  bool providesSamples_ = false;
  DWORD outputBytes_ = kOutputBytes;
  ComPtr<IMFSample> outSample_;
};

bool MfAacDecoder::open(const AdtsFrame& frame) {
  mft_.reset();
  outSample_.reset();
  configured_ = false;
  if (frame.channels == 0) return false;  // a configuration inside the stream: not taken
  const MfApi& mf = mfApi();
  ComPtr<IMFMediaType> type;
  if (FAILED(mf.createMediaType(type.put()))) return false;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC);
  type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, frame.rate);
  type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, frame.channels);
  type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
  type->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 0);
  type->SetUINT32(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION, 0xFE);  // not given
  // The part of HEAACWAVEINFO after its WAVEFORMATEX (payload type 0,
  // profile 0xFE, the rest zero), then the AudioSpecificConfig.
  std::uint8_t userData[14] = {0, 0, 0xFE, 0};
  const std::array<std::uint8_t, 2> asc = frame.audioSpecificConfig();
  userData[12] = asc[0];
  userData[13] = asc[1];
  type->SetBlob(MF_MT_USER_DATA, userData, sizeof userData);

  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  if (!findAacDecoders(&activates, &count)) return false;
  for (UINT32 i = 0; i < count && !mft_; ++i) {
    ComPtr<IMFTransform> mft;
    if (SUCCEEDED(activates[i]->ActivateObject(IID_IMFTransform, reinterpret_cast<void**>(mft.put()))) &&
        SUCCEEDED(mft->SetInputType(0, type.get(), 0))) {
      mft_ = mft;
    } else if (mft) {
      activates[i]->ShutdownObject();
    }
  }
  releaseAll(activates, count);
  if (!mft_ || !chooseOutputType()) {
    mft_.reset();
    return false;
  }
  mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  config_ = frame;
  configured_ = true;
  return true;
}

// 16-bit PCM from the decoder's list, else a type of our own.
bool MfAacDecoder::chooseOutputType() {
  bool set = false;
  for (DWORD i = 0; !set; ++i) {
    ComPtr<IMFMediaType> type;
    if (FAILED(mft_->GetOutputAvailableType(0, i, type.put()))) break;
    GUID subtype = GUID_NULL;
    UINT32 bits = 0;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits);
    if (subtype == MFAudioFormat_PCM && bits == 16) set = SUCCEEDED(mft_->SetOutputType(0, type.get(), 0));
  }
  if (!set) {
    ComPtr<IMFMediaType> type;
    if (FAILED(mfApi().createMediaType(type.put()))) return false;
    const UINT32 channels = config_.channels ? config_.channels : 2;
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, config_.rate);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, channels * 2);
    type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, channels * 2 * config_.rate);
    if (FAILED(mft_->SetOutputType(0, type.get(), 0))) return false;
  }
  ComPtr<IMFMediaType> current;
  if (FAILED(mft_->GetOutputCurrentType(0, current.put()))) return false;
  UINT32 rate = 0, channels = 0;
  current->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
  current->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
  if (rate == 0 || channels == 0) return false;
  rate_ = rate;
  channels_ = channels;
  MFT_OUTPUT_STREAM_INFO info{};
  if (FAILED(mft_->GetOutputStreamInfo(0, &info))) return false;
  providesSamples_ = (info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES) != 0;
  outputBytes_ = std::max<DWORD>(info.cbSize, kOutputBytes);
  outSample_.reset();
  return true;
}

void MfAacDecoder::append(IMFSample* sample, PcmBlock& out) {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(buffer.put()))) return;
  BYTE* bytes = nullptr;
  DWORD max = 0, length = 0;
  if (FAILED(buffer->Lock(&bytes, &max, &length))) return;
  const std::size_t frames = length / (2 * channels_);
  const auto* pcm = reinterpret_cast<const std::int16_t*>(bytes);
  const std::uint32_t kept = std::min<std::uint32_t>(channels_, 2);
  out.samples.reserve(out.samples.size() + frames * kept);
  for (std::size_t f = 0; f < frames; ++f)
    for (std::uint32_t c = 0; c < kept; ++c) {
      std::int16_t v;
      std::memcpy(&v, pcm + f * channels_ + c, sizeof v);
      out.samples.push_back(v);
    }
  buffer->Unlock();
}

// Takes every decoded frame the MFT has ready; false when it failed.
bool MfAacDecoder::pullOutput(PcmBlock& out) {
  const MfApi& mf = mfApi();
  for (int rounds = 0; rounds < 64; ++rounds) {
    MFT_OUTPUT_DATA_BUFFER data{};
    data.dwStreamID = 0;
    if (!providesSamples_) {
      if (!outSample_) {
        ComPtr<IMFMediaBuffer> buffer;
        if (FAILED(mf.createSample(outSample_.put())) ||
            FAILED(mf.createMemoryBuffer(outputBytes_, buffer.put())) ||
            FAILED(outSample_->AddBuffer(buffer.get()))) {
          outSample_.reset();
          return false;
        }
      }
      ComPtr<IMFMediaBuffer> buffer;
      if (SUCCEEDED(outSample_->GetBufferByIndex(0, buffer.put()))) buffer->SetCurrentLength(0);
      data.pSample = outSample_.get();
    }
    DWORD status = 0;
    const HRESULT hr = mft_->ProcessOutput(0, 1, &data, &status);
    if (data.pEvents) data.pEvents->Release();
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return true;
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      if (!chooseOutputType()) return false;
      continue;
    }
    if (FAILED(hr)) {
      if (providesSamples_ && data.pSample) data.pSample->Release();
      return false;
    }
    if (data.pSample) append(data.pSample, out);
    if (providesSamples_ && data.pSample) data.pSample->Release();
  }
  return true;
}

bool MfAacDecoder::feed(const std::uint8_t* raw, std::size_t size, PcmBlock& out) {
  const MfApi& mf = mfApi();
  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* bytes = nullptr;
  if (FAILED(mf.createSample(sample.put())) ||
      FAILED(mf.createMemoryBuffer(static_cast<DWORD>(size), buffer.put())) ||
      FAILED(buffer->Lock(&bytes, nullptr, nullptr)))
    return false;
  std::memcpy(bytes, raw, size);
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(size));
  if (FAILED(sample->AddBuffer(buffer.get()))) return false;
  HRESULT hr = mft_->ProcessInput(0, sample.get(), 0);
  if (hr == MF_E_NOTACCEPTING) {  // output waiting: take it, then try again
    if (!pullOutput(out)) return false;
    hr = mft_->ProcessInput(0, sample.get(), 0);
  }
  if (FAILED(hr)) return false;
  return pullOutput(out);
}

bool MfAacDecoder::decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) {
  out.samples.clear();
  std::size_t decoded = 0;
  AdtsFrame frame;
  for (std::size_t at = 0; at < size && readAdtsFrame(data + at, size - at, frame); at += frame.frameBytes) {
    // Several raw blocks in one frame would need splitting by their own
    // syntax; encoders write one, and such a frame is skipped.
    if (frame.rawBlocks != 1) continue;
    if ((!configured_ || !frame.sameConfig(config_)) && !open(frame)) return false;
    if (!feed(data + at + frame.headerBytes, frame.frameBytes - frame.headerBytes, out)) {
      // A frame the decoder refused may have left it in a bad state.
      flush();
      continue;
    }
    ++decoded;
  }
  out.rate = rate_;
  out.channels = std::min<std::uint32_t>(channels_, 2);
  return decoded > 0;
}

}  // namespace

std::uint32_t createMfAacDecoder(std::unique_ptr<AudioDecoder>& out) {
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  if (!findAacDecoders(&activates, &count)) return VDPLAY_ERR_DECODER_INIT;
  releaseAll(activates, count);
  if (count == 0) return VDPLAY_ERR_DECODER_INIT;
  out.reset(new (std::nothrow) MfAacDecoder);
  return out ? 0 : VDPLAY_ERR_ALLOC;
}

}  // namespace vdplay
