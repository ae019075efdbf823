// Play_PlayState and Play_GetPlayState: normal play, pause, three fast and
// three slow speeds and single-frame stepping.
#include "player/SinglePlayer.h"

namespace sp {
namespace {

// Context texts of the numbered speed steps: a single fast step logs
// "VdPlay_Fast()", longer fast sequences and every slow sequence number
// their steps.
const char* const kFastSingleStep[] = {"VdPlay_Fast()"};
const char* const kFastSteps[] = {"VdPlay_Fast(1)", "VdPlay_Fast(2)", "VdPlay_Fast(3)"};
const char* const kSlowSteps[] = {"VdPlay_Slow(1)", "VdPlay_Slow(2)", "VdPlay_Slow(3)"};

}  // namespace

int32_t SinglePlayer::RunPlayStateSequence(int32_t decoderPort, const PortRecord& record,
                                           int32_t state) {
  if (state == PLAYSTATE_PAUSE) {
    if (!VdPlay_Pause(decoderPort, 1)) return DecoderFailure(decoderPort, "VdPlay_Pause()");
    return SP_OK;
  }
  // Every other speed starts from normal play, which also ends a pause, a
  // speed level or stepping in the decoder.
  if (!VdPlay_Play(decoderPort, record.displayWindow)) {
    return DecoderFailure(decoderPort, "VdPlay_Play()");
  }
  if (state == PLAYSTATE_PLAY) {
    if (!VdPlay_Pause(decoderPort, 0)) return DecoderFailure(decoderPort, "VdPlay_Pause()");
    return SP_OK;
  }
  const bool fast = state >= PLAYSTATE_FAST1 && state <= PLAYSTATE_FAST3;
  const int steps = fast ? state - PLAYSTATE_FAST1 + 1 : state - PLAYSTATE_SLOW1 + 1;
  const char* const* contexts = fast ? (steps == 1 ? kFastSingleStep : kFastSteps) : kSlowSteps;
  for (int step = 0; step < steps; ++step) {
    const VdBool ok = fast ? VdPlay_Fast(decoderPort) : VdPlay_Slow(decoderPort);
    if (!ok) return DecoderFailure(decoderPort, contexts[step]);
  }
  return SP_OK;
}

int32_t SinglePlayer::PlayState(int32_t port, int32_t state) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  PortRecord& record = ports[port];
  if (record.playState == PLAYSTATE_NOT_STARTED) {
    return SP_OUT_OF_ORDER(texts::kTextCannotChangeUnstarted);
  }
  if (state < PLAYSTATE_PLAY || state > PLAYSTATE_ONE_BY_ONE) return SP_OK;

  if (state == PLAYSTATE_ONE_BY_ONE) {
    // Already stepping: this request lets one more block of data through.
    if (record.playState == PLAYSTATE_ONE_BY_ONE) {
      record.stepInputPermit = 1;
    } else {
      record.stepInputPermit = 0;
      record.playState = PLAYSTATE_ONE_BY_ONE;
    }
    if (!VdPlay_OneByOne(decoderPort)) return DecoderFailure(decoderPort, "VdPlay_OneByOne");
    return SP_OK;
  }

  if (record.playState == state) return SP_OK;
  result = RunPlayStateSequence(decoderPort, record, state);
  if (result == SP_OK) record.playState = state;
  return result;
}

int32_t SP_STDCALL SinglePlayer::Play_PlayState(int32_t port, int32_t state) {
  return AtBoundary(texts::kTracePlayState, [&] { return PlayState(port, state); }, port, state);
}

int32_t SinglePlayer::GetPlayState(int32_t port, int32_t* state) {
  if (!IsHostPort(port) || state == nullptr) return SP_BAD_ARGUMENT();
  *state = ports[port].playState;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetPlayState(int32_t port, int32_t* state) {
  return AtBoundary(texts::kTraceGetPlayState, [&] { return GetPlayState(port, state); },
                    port, state);
}

}  // namespace sp
