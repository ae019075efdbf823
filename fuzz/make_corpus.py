#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The seeds are small valid and nearly valid inputs from which the fuzzer
mutates: configuration files, streams (file header and packets, including a
header that claims a huge picture), and operation sequences for the player.
Run it again after changing an input layout; the files are committed.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- configuration
config = {
    "typical": b"[GLOBAL]\n[TRACE_PATH][d:/player/trace/]\n[DEBUG_LEVEL][1]\n",
    "comments": b"#[GLOBAL]\n [GLOBAL]\n#[TRACE_PATH][no]\n[TRACE_PATH] = [d:/logs/] remark\n",
    "later_header": b"[GLOBAL]\n[OTHER]\n[DEBUG_LEVEL][3]\n[GLOBAL]\n[TRACE_PATH][]\n",
    "no_second_field": b"[GLOBAL]\n[TRACE_PATH] d:/logs/\n[TRACE_PATH][d:/x/]\n",
    "long_line": b"[GLOBAL]\n[TRACE_PATH][" + b"a" * 120 + b"]\n[DEBUG_LEVEL][2]\n",
    "nul_and_crlf": b"[GLOBAL]\r\n[DEBUG_LEVEL][\x004]\r\n[TRACE_PATH][c:\\q\\]\r\n",
    "case_and_blanks": b"[ GLOBAL ]\n[global]\n[GLOBAL][DEBUG_LEVEL][9]\n[DEBUG_LEVEL][[7]]\n",
}
for name, data in config.items():
    write("config_reader", name, data)

# ---------------------------------------------------------------- stream parser


def file_header(width, height, num=25, den=1, version=1, size=40, fmt=1, magic=b"VDPS"):
    return magic + struct.pack("<HHIIIII", version, size, width, height, num, den, fmt) + bytes(12)


def picture(width, height, index):
    return bytes((x * 7 + index * 13) & 0xFF for x in range(width * height * 3 // 2))


def packet(payload, stamp, kind):
    return b"VDFR" + struct.pack("<III", len(payload), stamp, kind) + payload


def raw(width, height, index, stamp):
    return packet(picture(width, height, index), stamp, 1)


def packed(width, height, index, stamp):
    return packet(zlib.compress(picture(width, height, index), 1), stamp, 2)


def parser_input(flags, seed, extra, header, data):
    return bytes([flags, seed]) + struct.pack("<H", extra) + header + data


W, H = 8, 6
clean = raw(W, H, 0, 0) + packed(W, H, 1, 40) + raw(W, H, 2, 80) + packed(W, H, 3, 120)
write("stream_parser", "clean", parser_input(0, 0, 0, file_header(W, H), clean))
write("stream_parser", "tight_pool_junk",
      parser_input(2, 7, 0, file_header(W, H),
                   raw(W, H, 0, 0) + b"junkVD" + packed(W, H, 1, 40) + file_header(W, H) +
                   packet(b"\x01\x02", 80, 1) + packet(b"xx", 90, 9) + raw(W, H, 2, 120)))
write("stream_parser", "reset_midway",
      parser_input(4 | 1, 3, 0, file_header(16, 2), raw(16, 2, 0, 0) * 3 + packed(16, 2, 1, 9)))
# A header that claims the largest picture: the player's pools are too small
# for it, a pool of the size it needs is taken.
huge = file_header(4096, 4096)
huge_packet = b"VDFR" + struct.pack("<III", 4096 * 4096 * 3 // 2, 0, 1) + bytes(64)
write("stream_parser", "huge_picture_player_pool", parser_input(0, 1, 0, huge, huge_packet))
write("stream_parser", "huge_picture_own_pool", parser_input(3, 1, 16, huge, huge_packet))
write("stream_parser", "bad_headers_version", parser_input(0, 0, 0, file_header(W, H, version=2), clean))
write("stream_parser", "bad_headers_odd", parser_input(0, 0, 0, file_header(7, H), clean))
write("stream_parser", "bad_headers_rate", parser_input(0, 0, 0, file_header(W, H, num=0), clean))
write("stream_parser", "short_header", parser_input(8, 0, 17, file_header(W, H), clean))



def codec_header(width, height, codec, framing):
    return b"VDPS" + struct.pack("<HHIIIIIIII", 1, 40, width, height, 25, 1, 1, codec, framing, 0)


def encoded_units(codec, frames=4):
    """Access units of a tiny clip from the ffmpeg command, split at their
    access unit delimiters; None where the command is missing."""
    import shutil
    import subprocess
    import tempfile
    if not shutil.which("ffmpeg"):
        return None
    if codec == 1:
        args = ["-c:v", "libx264", "-preset", "ultrafast", "-bf", "2", "-g", "3",
                "-x264-params", "aud=1", "-f", "h264"]
        aud = b"\x00\x00\x00\x01\x09"
    else:
        args = ["-c:v", "libx265", "-preset", "ultrafast",
                "-x265-params", "aud=1:bframes=2:keyint=3:log-level=none", "-f", "hevc"]
        aud = b"\x00\x00\x00\x01\x46"
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "clip")
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=32x32:rate=25", "-frames:v", str(frames),
                        "-pix_fmt", "yuv420p"] + args + [out], check=True)
        data = open(out, "rb").read()
    starts = [i for i in range(len(data)) if data.startswith(aud, i)]
    return [data[a:b] for a, b in zip(starts, starts[1:] + [len(data)])]


# Audio packets between the pictures: G.711 A-law and mu-law (a 20 ms packet
# of a made-up wave), AAC frames with ADTS headers (a silent AAC-LC frame, as
# encoders write them, and one cut short), and audio with a compressed codec.
alaw = bytes(((i * 37) ^ 0x55) & 0xFF for i in range(160))
mulaw = bytes((0xFF - (i * 29) % 256) for i in range(160))
def adts(payload, rate_index=3, channels=1):
    length = len(payload) + 7
    return bytes([0xFF, 0xF1, (1 << 6) | (rate_index << 2) | (channels >> 2),
                  ((channels & 3) << 6) | (length >> 11), (length >> 3) & 0xFF,
                  ((length & 7) << 5) | 0x1F, 0xFC]) + payload
silent_aac = adts(bytes([0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C]))
with_audio = (raw(W, H, 0, 0) + packet(alaw, 0, 5) + packet(mulaw, 20, 6) + packed(W, H, 1, 40) +
              packet(silent_aac * 3, 40, 7) + packet(silent_aac[:9], 61, 7) + raw(W, H, 2, 80) +
              packet(adts(bytes(range(40)), 4, 2), 80, 7))
write("stream_parser", "audio_packets", parser_input(0, 11, 0, file_header(W, H), with_audio))
write("stream_parser", "audio_tight_pool_reset",
      parser_input(4 | 2, 13, 0, file_header(W, H), with_audio + packet(b"", 99, 5)))

for codec, name in ((1, "h264"), (2, "h265")):
    units = encoded_units(codec)
    if units is None:
        break
    payload_type = codec + 2
    packets = b"".join(packet(u, 40 * i, payload_type) for i, u in enumerate(units))
    write("stream_parser", name + "_packets",
          parser_input(0, 5, 0, codec_header(32, 32, codec, 0), packets))
    write("stream_parser", name + "_bare",
          parser_input(4, 9, 0, codec_header(32, 32, codec, 1), b"".join(units)))
    damaged = bytearray(packets)
    for i in range(len(damaged) // 2, len(damaged), 11):
        damaged[i] ^= 0x41
    write("stream_parser", name + "_with_audio",
          parser_input(0, 7, 0, codec_header(32, 32, codec, 0),
                       packet(silent_aac, 0, 7) + packets + packet(alaw, 20, 5)))
    write("stream_parser", name + "_damaged_other_codec",
          parser_input(2, 1, 0, codec_header(32, 32, codec, 0),
                       bytes(damaged) + packet(units[0], 0, 5 - codec)))

# ---------------------------------------------------------------- player operations
# Op bytes below 208 run slot (op % 26); then come the host port byte (below
# 200: byte % 40), the null-address byte (below 24: null) and the slot's own
# values. A value byte below 128 picks a range edge (table in the fuzz target:
# 3 = 0, 4 = 1, 9 = 10, 10 = 50, 12 = 100, 13 = 101, 20 = 0xFFFFFFFF), 128..223
# gives byte - 176, and 224 or more is followed by four raw bytes.
ZERO, ONE = 176, 177


def v(n):
    return 176 + n


ok = 255
session = bytes([
    4, 5, ok, v(0),                      # Play_SetOpenMode(5, 0)
    2, 5, ok, 17,                        # Play_SetOverlayMode(5, 0x00FFFFFF)
    5, 5, ok, 1, v(40), ZERO,            # Play_OpenStream(window 1, 5, header, 40)
    6, 5, ok, v(47), ZERO,               # Play_InputData(5, data, 47)
    8, 5, ok, v(4),                      # fast 2
    8, 5, ok, v(9),                      # single frame
    6, 5, ok, v(47), ZERO,               # refused while stepping: 12
    8, 5, ok, v(9),                      # permit
    6, 5, ok, v(47), ZERO,
    12, 5, ok, 0,                        # Play_GetPicture(5, file)
    15, 5, ok,                           # Play_GetPictureSize
    22, 5, ok, ZERO, ZERO, 12, 12, ONE,  # Play_SetDispRegion(5, 1, 0,0,100,100)
    23, 5, ok,
    20, 5, ok, ZERO, 10, 12, 13, 3, ZERO, ZERO,  # Play_SetVideoPara
    21, 5, ok,
    10, 5, ok, 10, 11, 5, ok,            # volume 50, read back
    16, 5, ok, 2, 17, 5, ok,             # quality -1, read back
    18, 5, ok, v(2), 19, 5, ok,          # throw 2, read back
    24, 5, ok, 25, 5, ok, 13, 5, ok, 14, 0, ok, 9, 5, ok, 3, 5, ok,
    7, 5, ok, 7, 5, ok,                  # close twice: 0 then 3
])
write("player_ops", "session", session)

bad_ports = b"".join(bytes([slot, 232 + (slot % 4), ok, ZERO, ZERO, ZERO]) for slot in range(26))
write("player_ops", "bad_ports", bad_ports)
null_addresses = b"".join(bytes([slot, 3, 0, ONE, ZERO, ONE, ZERO]) for slot in range(26))
write("player_ops", "null_addresses", bytes([4, 3, ok, ZERO]) + null_addresses)
many_ports = b"".join(bytes([4, p, ok, ZERO]) for p in range(34)) + bytes([2, 39, ok, 17, 7, 39, ok])
write("player_ops", "thirty_three_ports", many_ports)
failures = bytes([
    4, 1, ok, ZERO,
    208, 3, 4, 1, 0,                     # VdPlay_Play fails once with code 1
    5, 1, ok, 0, v(40), ZERO,            # open: Play fails, stream closed again
    5, 1, ok, 0, v(40), ZERO,
    208, 8, 224, 0x10, 0, 0, 0, 1, 1,    # the second VdPlay_Fast fails with code 16
    8, 1, ok, v(4),
    208, 22, 7, 1, 0,                    # conversion fails with code 7
    12, 1, ok, 0,
    216, 0,                              # no frame on install: capture times out
    12, 1, ok, 0,
    216, 1,
    208, 21, 11, 1, 1,                   # removing the callback fails once
    12, 1, ok, 0,
    240, 2,                              # a frame on decoder port 1
    208, 4, 11, 2, 0,                    # two refusals of data, then accepted
    6, 1, ok, v(47), ZERO,
    248, 2,                              # release and get a fresh player
    9, 1, ok,
])
write("player_ops", "failures", failures)
init = bytes([0, 0, ok, 0, ZERO, 0, 0, ok, 1, ONE, 0, 0, ok, 2, ZERO, 0, 0, ok, 3, ZERO, 1, 0, ok,
              4, 0, ok, ZERO, 18, 0, ok, v(2), 6, 0, ok, v(1), ZERO])
write("player_ops", "init_and_levels", init)
# Saturation and hue are not range-checked: their conversion must not overflow.
extremes = bytes([4, 0, ok, ZERO, 5, 0, ok, 1, v(40), ZERO,
                  20, 0, ok, ZERO, 10, 10, 19, 0, ZERO, ZERO,
                  20, 0, ok, ZERO, 3, 12, 0, 19, ZERO, ZERO, 21, 0, ok])
write("player_ops", "video_para_extremes", extremes)


# ---------------------------------------------------------------- demuxers
# Seeds start with the two control bytes of the targets: forced codec and
# piece size, then how often the port closes an idle unit or resets.


def pes(stream_id, payload, pts=None, bounded=True):
    flags, header = (0x80, b"") if pts is None else (0x80, pts_bytes(pts))
    head = bytes([0x80, 0x80 if pts is not None else 0, len(header)]) + header
    length = len(head) + len(payload) if bounded else 0
    return b"\x00\x00\x01" + bytes([stream_id]) + struct.pack(">H", length) + head + payload


def pts_bytes(pts):
    return bytes([0x21 | ((pts >> 29) & 0x0E), (pts >> 22) & 0xFF, ((pts >> 14) & 0xFE) | 1,
                  (pts >> 7) & 0xFF, ((pts << 1) & 0xFE) | 1])


def access_unit(hevc, size, seed):
    head = (b"\x00\x00\x00\x01\x40\x01\x0c\x00\x00\x01\x26\x01\xaf" if hevc
            else b"\x00\x00\x00\x01\x67\x42\x00\x00\x01\x65\x88")
    body = bytes(((i * 7 + seed * 13) | 1) & 0xFF for i in range(size - len(head)))
    return head + body


def mpeg_crc(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return struct.pack(">I", crc)


def program_stream(hevc=False, with_map=True, units=4, big=False):
    out = b""
    for i in range(units):
        out += b"\x00\x00\x01\xba\x44\x00\x04\x00\x04\x01\x01\x89\xc3\xf8"
        if with_map and i == 0:
            body = bytes([0x80, 0x01, 0, 0, 0, 8, 0x24 if hevc else 0x1B, 0xE0, 0, 0, 0x90, 0xC0, 0, 0])
            psm = b"\x00\x00\x01\xbc" + struct.pack(">H", len(body) + 4) + body
            out += psm + mpeg_crc(psm)
        unit = access_unit(hevc, 70000 if big and i == 1 else 300 + 97 * i, i)
        for at in range(0, len(unit), 65000):
            out += pes(0xE0, unit[at:at + 65000], 3600 * i if at == 0 else None)
        out += pes(0xC0, bytes([0xD5]) * 160, 3600 * i)
    return out + b"\x00\x00\x01\xb9"


def ts_packets(pid, payload, counter, start=True):
    out = b""
    first = True
    while payload:
        room = 184
        header = bytes([0x47, (0x40 if first and start else 0) | (pid >> 8), pid & 0xFF])
        if len(payload) < room:
            stuffing = room - len(payload) - 1
            field = bytes([stuffing]) + (b"\x00" + b"\xff" * (stuffing - 1) if stuffing else b"")
            out += header + bytes([0x30 | counter]) + field + payload
            payload = b""
        else:
            out += header + bytes([0x10 | counter]) + payload[:room]
            payload = payload[room:]
        counter = (counter + 1) & 0x0F
        first = False
    return out, counter


def section_packet(pid, section, counter):
    packet = bytes([0x47, 0x40 | (pid >> 8), pid & 0xFF, 0x10 | counter, 0]) + section
    return packet + b"\xff" * (188 - len(packet)), (counter + 1) & 0x0F


def transport_stream(hevc=False, units=4, timecodes=False):
    pat = b"\x00\xb0\x0d\x00\x01\xc1\x00\x00\x00\x01\xf0\x00"
    pat += mpeg_crc(pat)
    pmt = bytes([0x02, 0xB0, 0x17, 0, 1, 0xC1, 0, 0, 0xE1, 0x00, 0xF0, 0,
                 0x24 if hevc else 0x1B, 0xE1, 0x00, 0xF0, 0, 0x0F, 0xE1, 0x01, 0xF0, 0])
    pmt += mpeg_crc(pmt)
    out, c = b"", [0, 0, 0, 0]
    packet, c[0] = section_packet(0, pat, c[0])
    out += packet
    packet, c[1] = section_packet(0x1000, pmt, c[1])
    out += packet
    for i in range(units):
        packet, c[2] = ts_packets(0x100, pes(0xE0, access_unit(hevc, 400 + 211 * i, i), 3600 * i, False), c[2])
        out += packet
        adts = b"\xff\xf1\x50\x80\x02\x1f\xfc" + b"\x21" * 10
        packet, c[3] = ts_packets(0x101, pes(0xC0, adts, 3600 * i), c[3])
        out += packet
    if timecodes:
        out = b"".join(b"\x00\x00\x47\x00" + out[i:i + 188] for i in range(0, len(out), 188))
    return out


demuxers = {
    "ps_demuxer": {
        "camera_h264": b"\x05\x03" + program_stream(),
        "camera_h265": b"\x06\x04" + program_stream(hevc=True),
        "no_map": b"\x04\x02" + program_stream(with_map=False),
        "unit_over_two_pes": b"\x40\x01" + program_stream(big=True, units=3),
    },
    "ts_demuxer": {
        "h264_with_aac": b"\x05\x03" + transport_stream(),
        "h265": b"\x06\x04" + transport_stream(hevc=True),
        "timecoded_m2ts": b"\x30\x02" + transport_stream(timecodes=True),
        "one_byte_pieces": b"\x00\x01" + transport_stream(units=2),
    },
}
for target, seeds in demuxers.items():
    for name, data in seeds.items():
        write(target, name, data)
# ---------------------------------------------------------------- Annex-B splitter
# [0] flags (bit 0 H.265, bit 1 end midway), [1] split seed, then the stream.
# Hand-made NAL units: delimiters, parameter sets, IDR and P slices (first and
# later slices of a picture), H.265 parameter sets and slices, junk before
# the first start code. The committed corpus also holds h264_clip and
# h265_clip, real streams of five 64x64 pictures made with
#   ffmpeg -f lavfi -i testsrc2=size=64x64:rate=25 -frames:v 5 -c:v libx264 -bf 2 -f h264
# (and -c:v libx265 -f hevc), behind the two leading bytes 00 11.
aud = bytes([0, 0, 0, 1, 0x09, 0xF0])
sps = bytes([0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0xAB])
pps = bytes([0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80])
idr = bytes([0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0x00, 0x00, 0x03, 0x01, 0x7F])
idr_more = bytes([0, 0, 1, 0x65, 0x41, 0x9A, 0x55])
p_first = bytes([0, 0, 0, 1, 0x41, 0x9A, 0x22, 0x6C])
p_more = bytes([0, 0, 1, 0x41, 0x40, 0x10, 0x33])
eos = bytes([0, 0, 0, 1, 0x0A])
h264 = aud + sps + pps + idr + idr_more + p_first + p_more + aud + p_first + eos + sps + idr
write("annexb", "h264_units", bytes([0, 7]) + h264)
write("annexb", "h264_end_midway", bytes([2, 3]) + h264 + h264)
write("annexb", "h264_junk_first", bytes([0, 1]) + b"\x12\x34\x56\x00\x00" + h264)
vps = bytes([0, 0, 0, 1, 0x40, 0x01, 0x0C])
sps5 = bytes([0, 0, 0, 1, 0x42, 0x01, 0x01])
pps5 = bytes([0, 0, 0, 1, 0x44, 0x01, 0xC1])
idr5 = bytes([0, 0, 0, 1, 0x26, 0x01, 0xAF, 0x11])
trail5 = bytes([0, 0, 0, 1, 0x02, 0x01, 0xD0, 0x33])
aud5 = bytes([0, 0, 0, 1, 0x46, 0x01, 0x50])
write("annexb", "h265_units", bytes([1, 5]) + vps + sps5 + pps5 + idr5 + trail5 + aud5 + trail5)
