/*
 * A host program written in plain C, as a client that knows only the binary
 * layout: it loads SinglePlayer.dll from the folder given on its command
 * line, finds the two exports by their undecorated names and calls every one
 * of the 26 slots through the raw function table. The VdPlay.dll beside the
 * player is the scriptable fake decoder, whose controls it finds the same way.
 *
 * Usage: raw_table_host FOLDER     (exit code = number of failed checks)
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <SinglePlayer.h>

typedef ISinglePlayer*(SP_CDECL* CreateFn)(void);
typedef void(SP_STDCALL* ReleaseFn)(ISinglePlayer*);

typedef void (*FakeResetFn)(void);
typedef void (*FakeFailCallsFn)(const char* function, uint32_t code, int times);
typedef int (*FakeCountCallsFn)(const char* function);
typedef void (*FakeFramesOnInstallFn)(int frames);
typedef long long (*FakeLastArgFn)(const char* function, int index);

static int failures = 0;

#define CHECK_EQ(actual, expected)                                                        \
  do {                                                                                    \
    long long a_ = (long long)(actual), e_ = (long long)(expected);                       \
    if (a_ != e_) {                                                                       \
      fprintf(stderr, "line %d: %s is %lld, expected %lld\n", __LINE__, #actual, a_, e_); \
      ++failures;                                                                         \
    }                                                                                     \
  } while (0)

/* The generic function pointer type, converted to each export's own type. */
typedef void (*AnyFunction)(void);

static AnyFunction Need(HMODULE module, const char* name) {
  AnyFunction f = (AnyFunction)GetProcAddress(module, name);
  if (f == NULL) {
    fprintf(stderr, "missing export %s\n", name);
    ++failures;
  }
  return f;
}

int main(int argc, char** argv) {
  char folder[MAX_PATH];
  char path[MAX_PATH + 20];
  if (argc != 2) {
    fprintf(stderr, "usage: raw_table_host FOLDER\n");
    return 100;
  }
  /* Loading with the altered search path needs an absolute file name. */
  DWORD length = GetFullPathNameA(argv[1], sizeof folder, folder, NULL);
  if (length == 0 || length >= sizeof folder) return 100;
  snprintf(path, sizeof path, "%s\\SinglePlayer.dll", folder);
  /* The altered search path makes the loader look for VdPlay.dll beside the player. */
  HMODULE library = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s (error %lu)\n", path, (unsigned long)GetLastError());
    return 100;
  }
  HMODULE decoder = GetModuleHandleA("VdPlay.dll");
  if (decoder == NULL) {
    fprintf(stderr, "VdPlay.dll was not loaded with the player\n");
    return 100;
  }

  CreateFn create = (CreateFn)Need(library, "CreateSinglePlayerDll");
  ReleaseFn release = (ReleaseFn)Need(library, "ReleaseSinglePlayerDll");
  FakeResetFn fakeReset = (FakeResetFn)Need(decoder, "FakeVdPlay_Reset");
  FakeFailCallsFn fakeFail = (FakeFailCallsFn)Need(decoder, "FakeVdPlay_FailCalls");
  FakeCountCallsFn fakeCount = (FakeCountCallsFn)Need(decoder, "FakeVdPlay_CountCalls");
  FakeFramesOnInstallFn fakeFrames =
      (FakeFramesOnInstallFn)Need(decoder, "FakeVdPlay_SetFramesOnInstall");
  FakeLastArgFn lastArg = (FakeLastArgFn)Need(decoder, "FakeVdPlay_LastArg");
  /* A decorated name must not be there. */
  CHECK_EQ(GetProcAddress(library, "ReleaseSinglePlayerDll@4") == NULL, 1);
  if (failures != 0) return failures;
  fakeReset();

  ISinglePlayer* player = create();
  if (player == NULL) {
    fprintf(stderr, "CreateSinglePlayerDll returned null\n");
    return 100;
  }
  CHECK_EQ(create() == player, 1);
  const ISinglePlayerVtbl* t = player->vtbl;

  int32_t i1 = -1, i2 = -1;
  uint32_t u1 = 0;
  uint8_t header[4] = {'V', 'D', 'H', 'R'};
  uint8_t data[8] = {0};
  SP_HWND window = (SP_HWND)(intptr_t)0x5150;

  /* 0, 1 */
  CHECK_EQ(t->Play_Init(player, 7), SP_OK);
  CHECK_EQ(t->Play_Exit(player), SP_OK);
  /* 2, 3: host port 100 gets decoder port 0 */
  CHECK_EQ(t->Play_SetOverlayMode(player, 100, 0x010203), SP_OK);
  CHECK_EQ(lastArg("VdPlay_SetOverlayMode", 0), 0);
  CHECK_EQ(lastArg("VdPlay_SetOverlayMode", 2), 0x010203);
  CHECK_EQ(t->Play_GetPreviewMode(player, 100, &i1, &u1), SP_OK);
  CHECK_EQ(i1, 1);
  CHECK_EQ(u1, 0x010203);
  CHECK_EQ(t->Play_SetOverlayMode(player, 100, 0x01000000), SP_ERR_PARAM);
  /* 4, 5, 6 */
  CHECK_EQ(t->Play_SetOpenMode(player, 100, 1), SP_OK);
  CHECK_EQ(t->Play_SetOpenMode(player, 100, 2), SP_ERR_PARAM);
  CHECK_EQ(t->Play_OpenStream(player, window, 100, header, sizeof header, 0), SP_OK);
  CHECK_EQ(lastArg("VdPlay_OpenStream", 3), 1024000);
  CHECK_EQ(lastArg("VdPlay_Play", 1), 0x5150);
  CHECK_EQ(t->Play_InputData(player, 100, data, sizeof data, 0), SP_OK);
  CHECK_EQ(lastArg("VdPlay_InputData", 2), 8);
  CHECK_EQ(t->Play_InputData(player, 100, data, 0, 0), SP_ERR_PARAM);
  /* 8, 9 */
  CHECK_EQ(t->Play_PlayState(player, 100, PLAYSTATE_FAST2), SP_OK);
  CHECK_EQ(fakeCount("VdPlay_Fast"), 2);
  CHECK_EQ(t->Play_GetPlayState(player, 100, &i1), SP_OK);
  CHECK_EQ(i1, PLAYSTATE_FAST2);
  CHECK_EQ(t->Play_PlayState(player, 100, PLAYSTATE_PLAY), SP_OK);
  /* 10, 11 */
  CHECK_EQ(t->Play_SetVolume(player, 100, 50), SP_OK);
  CHECK_EQ(lastArg("VdPlay_SetVolume", 1), 32767);
  CHECK_EQ(t->Play_GetVolume(player, 3, &i1), SP_OK);
  CHECK_EQ(i1, 50);
  /* 12: one frame shown as soon as the callback is installed */
  {
    char picture[MAX_PATH + 40];
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(picture, sizeof picture, "%ssp_raw_host_%lu.bmp", temp,
             (unsigned long)GetCurrentProcessId());
    fakeFrames(1);
    CHECK_EQ(t->Play_GetPicture(player, 100, picture), SP_OK);
    CHECK_EQ(GetFileAttributesA(picture) != INVALID_FILE_ATTRIBUTES, 1);
    DeleteFileA(picture);
    fakeFrames(0);
    CHECK_EQ(t->Play_GetPicture(player, 100, picture), SP_ERR_DECODER_UNKNOWN); /* no frame */
    CHECK_EQ(t->Play_GetPicture(player, 100, NULL), SP_ERR_PARAM);
  }
  /* 13, 14, 15 */
  CHECK_EQ(t->Play_RefreshPlay(player, 100), SP_OK);
  fakeFail("VdPlay_RefreshPlay", 5, 1);
  CHECK_EQ(t->Play_RefreshPlay(player, 100), 6);
  CHECK_EQ(t->Play_GetHeadLen(player, &u1), SP_OK);
  CHECK_EQ(u1, 40);
  CHECK_EQ(t->Play_GetPictureSize(player, 100, &i1, &i2), SP_OK);
  CHECK_EQ(i1, 704);
  CHECK_EQ(i2, 576);
  /* 16, 17, 18, 19 */
  CHECK_EQ(t->Play_SetPicQuality(player, 100, 1), SP_OK);
  CHECK_EQ(t->Play_GetPicQuality(player, 100, &i1), SP_OK);
  CHECK_EQ(i1, 1);
  CHECK_EQ(t->Play_ThrowFrame(player, 100, 2), SP_OK);
  CHECK_EQ(t->Play_ThrowFrame(player, 100, 3), SP_ERR_PARAM);
  CHECK_EQ(t->Play_GetThrowNum(player, 100, &i1), SP_OK);
  CHECK_EQ(i1, 2);
  /* 20, 21 */
  {
    SP_VIDEO_PARA para = {0, 60, 40, 50, 100, 0};
    SP_VIDEO_PARA got = {9, 9, 9, 9, 9, 9};
    CHECK_EQ(t->Play_SetVideoPara(player, 100, &para, 0), SP_OK);
    CHECK_EQ(lastArg("VdPlay_SetColor", 2), 76);
    CHECK_EQ(lastArg("VdPlay_SetColor", 5), 128);
    CHECK_EQ(t->Play_GetVideoPara(player, 100, &got), SP_OK);
    CHECK_EQ(got.reserved0, 0);
    CHECK_EQ(got.brightness, 60);
    CHECK_EQ(got.contrast, 40);
    CHECK_EQ(got.hue, 100);
    CHECK_EQ(got.reserved5, 0);
  }
  /* 22, 23 */
  {
    SP_RECT region = {0, 0, 352, 288};
    SP_RECT got = {9, 9, 9, 9};
    CHECK_EQ(t->Play_SetDispRegion(player, 100, 1, &region), SP_OK);
    CHECK_EQ(lastArg("VdPlay_SetDisplayRegion", 5), 352);
    CHECK_EQ(t->Play_GetDispRegion(player, 100, &got), SP_OK);
    CHECK_EQ(got.right, 352);
    CHECK_EQ(got.bottom, 288);
  }
  /* 24, 25 */
  CHECK_EQ(t->Play_ClearBuffer(player, 100), SP_OK);
  CHECK_EQ(t->Play_GetBufferRemainDataSize(player, 100, &u1), SP_OK);
  /* 7 */
  CHECK_EQ(t->Play_CloseStream(player, 100), SP_OK);
  CHECK_EQ(t->Play_CloseStream(player, 100), SP_ERR_ORDER);
  /* The port checks and the port table through the raw table too. */
  CHECK_EQ(t->Play_GetVolume(player, 128, &i1), SP_ERR_PARAM);
  CHECK_EQ(t->Play_OpenStream(player, window, 5, header, sizeof header, 0), SP_ERR_PARAM);

  /* Foreign and null releases are ignored; the real one ends the player. */
  release(NULL);
  release((ISinglePlayer*)&i1);
  CHECK_EQ(create() == player, 1);
  /* The same player, with its state: not a new one at the same address. */
  CHECK_EQ(t->Play_GetPreviewMode(player, 100, &i1, &u1), SP_OK);
  CHECK_EQ(i1, 1);
  {
    int decoderCalls = fakeCount("VdPlay_Play");
    CHECK_EQ(t->Play_SetOpenMode(player, 7, 0), SP_OK);
    CHECK_EQ(t->Play_OpenStream(player, window, 7, header, sizeof header, 0), SP_OK);
    release(player);
    CHECK_EQ(fakeCount("VdPlay_Stop"), 1); /* only the close above, none at release */
    CHECK_EQ(fakeCount("VdPlay_Play"), decoderCalls + 1);
  }
  player = create();
  if (player != NULL) {
    CHECK_EQ(player->vtbl->Play_SetOpenMode(player, 9, 0), SP_OK);
    CHECK_EQ(lastArg("VdPlay_SetStreamOpenMode", 0), 0); /* decoder ports from 0 again */
    release(player);
  }

  FreeLibrary(library);
  if (failures == 0) printf("raw table host: all slots answered as expected\n");
  return failures;
}
