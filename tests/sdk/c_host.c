/*
 * A host written in C against an installed SinglePlayer: it includes only the
 * installed header, links only the installed library (or import library),
 * and drives the player through the raw function table. It plays a small
 * stream of the stand-in decoder's format that it writes itself (raw I420
 * pictures), saves a snapshot and checks the version macros.
 *
 * Usage: c_host SNAPSHOT.bmp      (exit code = number of failed checks)
 */
#include <SinglePlayer.h>

#include <stdio.h>
#include <string.h>

enum { kWidth = 64, kHeight = 48, kFrames = 25, kPort = 7 };
enum { kPictureBytes = kWidth * kHeight * 3 / 2, kPacketBytes = 16 + kPictureBytes };

static int failures = 0;

#define CHECK_EQ(actual, expected)                                                   \
  do {                                                                               \
    long a_ = (long)(actual), e_ = (long)(expected);                                 \
    if (a_ != e_) {                                                                  \
      fprintf(stderr, "line %d: %s is %ld, expected %ld\n", __LINE__, #actual, a_, e_); \
      ++failures;                                                                    \
    }                                                                                \
  } while (0)

static void PutU16(uint8_t* at, uint32_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
}

static void PutU32(uint8_t* at, uint32_t value) {
  PutU16(at, value & 0xFFFFu);
  PutU16(at + 2, value >> 16);
}

/* File header: magic, version 1, header size 40, picture size, 25 frames per
 * second, I420. */
static void WriteHeader(uint8_t* header) {
  memset(header, 0, 40);
  memcpy(header, "VDPS", 4);
  PutU16(header + 4, 1);
  PutU16(header + 6, 40);
  PutU32(header + 8, kWidth);
  PutU32(header + 12, kHeight);
  PutU32(header + 16, 25);
  PutU32(header + 20, 1);
  PutU32(header + 24, 1);
}

/* One packet of a raw picture whose grey level changes with the frame. */
static void WritePacket(uint8_t* packet, int frame) {
  memcpy(packet, "VDFR", 4);
  PutU32(packet + 4, kPictureBytes);
  PutU32(packet + 8, (uint32_t)frame * 40u);
  PutU32(packet + 12, 1);
  memset(packet + 16, 16 + frame * 8, kWidth * kHeight);
  memset(packet + 16 + kWidth * kHeight, 128, kPictureBytes - kWidth * kHeight);
}

int main(int argc, char** argv) {
  static uint8_t header[40];
  static uint8_t packet[kPacketBytes];
  if (argc != 2) {
    fprintf(stderr, "usage: c_host SNAPSHOT.bmp\n");
    return 100;
  }
  CHECK_EQ(SP_VERSION_MAJOR >= 1, 1);

  ISinglePlayer* player = CreateSinglePlayerDll();
  if (player == NULL) {
    fprintf(stderr, "CreateSinglePlayerDll returned null\n");
    return 100;
  }
  const ISinglePlayerVtbl* t = player->vtbl;
  CHECK_EQ(t->Play_Init(player, 0), SP_OK);

  uint32_t headerLength = 0;
  CHECK_EQ(t->Play_GetHeadLen(player, &headerLength), SP_OK);
  CHECK_EQ(headerLength, 40);
  WriteHeader(header);
  /* Without a set-up operation the port has no decoder port. */
  CHECK_EQ(t->Play_OpenStream(player, NULL, kPort, header, 40, 0), SP_ERR_PARAM);
  CHECK_EQ(t->Play_SetOpenMode(player, kPort, 0), SP_OK);
  CHECK_EQ(t->Play_OpenStream(player, NULL, kPort, header, 40, 0), SP_OK);
  for (int frame = 0; frame < kFrames; ++frame) {
    WritePacket(packet, frame);
    CHECK_EQ(t->Play_InputData(player, kPort, packet, kPacketBytes, 0), SP_OK);
  }
  CHECK_EQ(t->Play_GetPicture(player, kPort, argv[1]), SP_OK);

  int32_t width = 0, height = 0, state = -1;
  CHECK_EQ(t->Play_GetPictureSize(player, kPort, &width, &height), SP_OK);
  CHECK_EQ(width, kWidth);
  CHECK_EQ(height, kHeight);
  CHECK_EQ(t->Play_GetPlayState(player, kPort, &state), SP_OK);
  CHECK_EQ(state, PLAYSTATE_PLAY);
  CHECK_EQ(t->Play_CloseStream(player, kPort), SP_OK);
  CHECK_EQ(t->Play_CloseStream(player, kPort), SP_ERR_ORDER);
  ReleaseSinglePlayerDll(player);

  FILE* picture = fopen(argv[1], "rb");
  CHECK_EQ(picture != NULL, 1);
  if (picture != NULL) {
    CHECK_EQ(fgetc(picture), 'B');
    CHECK_EQ(fgetc(picture), 'M');
    fclose(picture);
  }
  printf("c_host: %d failed checks\n", failures);
  return failures;
}
