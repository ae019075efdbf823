#!/bin/sh
# Runs the Windows sound test program under Wine against a PulseAudio server
# of its own: a null sink (no sound device needed) whose monitor parec
# records to a file for the whole run, as tests/support/SoundServer.h does
# natively. Wine's sound driver (winepulse) reaches the server through
# PULSE_SERVER; the program plays through the stand-in's waveOut output and
# measures the recording, which it reads through Wine's Z: drive. The tones
# are made here with the ffmpeg command.
# Usage: run_wine_sound_tests.sh WINE_RUN PROGRAM.exe [ARGS...]
# Exits 77 (skipped) where pulseaudio, pactl, parec or ffmpeg is missing.
set -u
wine_run=$1
shift
for tool in pulseaudio pactl parec ffmpeg; do
  command -v "$tool" >/dev/null 2>&1 || { echo "no $tool: the sound test is skipped"; exit 77; }
done

dir=$(mktemp -d /tmp/vdplay-wine-sound-XXXXXX)
server_pid=
recorder_pid=
cleanup() {
  [ -n "$recorder_pid" ] && kill "$recorder_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT INT TERM

export HOME="$dir" PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state"
export PULSE_SERVER="unix:$dir/native"
pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
  -L "module-null-sink sink_name=vdsink rate=48000" \
  -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
  </dev/null >/dev/null 2>&1 &
server_pid=$!
tries=0
until pactl info >/dev/null 2>&1; do
  tries=$((tries + 1))
  [ $tries -gt 300 ] && { echo "the PulseAudio server did not start"; exit 1; }
  sleep 0.02
done
# Wine's driver plays to the default sink; a recorder asking for 10 ms keeps
# the null sink's blocks short (an idle one renders in blocks of up to 2 s).
pactl set-default-sink vdsink
parec -d vdsink.monitor --format=s16le --rate=48000 --channels=1 --latency-msec=10 --raw \
  >"$dir/monitor.raw" 2>/dev/null &
recorder_pid=$!

sine="-f lavfi -i sine=frequency=440:duration=4:sample_rate="
ffmpeg -nostdin -loglevel error -y $sine"8000" -f alaw "$dir/tone.alaw" &&
  ffmpeg -nostdin -loglevel error -y $sine"48000" -c:a aac -b:a 96k -f adts "$dir/tone.adts" ||
  { echo "the ffmpeg command made no tone"; exit 1; }

VDPLAY_TEST_SOUND_DIR="Z:$dir" "$wine_run" "$@"
