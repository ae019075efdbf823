// Fixture of the player's unit tests: a player driven through its interface
// against the fake decoder, with the configuration file and both logs inside
// a sandbox folder, and the clock fixed so that records carry a known stamp.
#pragma once

#include <gtest/gtest.h>

#include <SinglePlayer.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FakeVdPlay.h"
#include "platform/Platform.h"
#include "player/SinglePlayer.h"
#include "support/GbkTexts.h"
#include "support/LogRecords.h"
#include "support/Sandbox.h"
#include "support/TempDir.h"

namespace sp_test {

inline SP_HWND Window(std::intptr_t value) { return reinterpret_cast<SP_HWND>(value); }

inline std::int64_t Address(const void* p) {
  return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(p));
}

using Names = std::vector<std::string>;
using Args = std::vector<std::int64_t>;

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_vdplay::Reset();
    sp::platform::testing::OverrideClock([] {
      sp::platform::LocalTime t;
      t.month = 12;
      t.day = 7;
      t.hour = 9;
      t.minute = 5;
      t.second = 3;
      t.millisecond = 47;
      return t;
    });
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
  }

  void TearDown() override {
    ReleaseSinglePlayerDll(player);
    ReleaseSinglePlayerDll(CreateSinglePlayerDll());  // whatever player a test left behind
    player = nullptr;
    fake_vdplay::Reset();
    sp::platform::testing::OverrideClock(nullptr);
  }

  sp::SinglePlayer& Impl() const { return *static_cast<sp::SinglePlayer*>(player); }

  std::string ConfigPath() const { return sandbox.ConfigPath(); }

  // Writes the configuration file with the given lines.
  void WriteConfig(const std::string& contents) { sandbox.WriteConfig(contents); }

  // Points both logs into logDir at the debug level, through Play_Init.
  void Init(int debugLevel) {
    sandbox.Configure(debugLevel);
    ASSERT_EQ(player->Play_Init(0), SP_OK);
  }

  // A fresh player after releasing the current one, initialised at the level.
  void Recreate(int debugLevel) {
    ReleaseSinglePlayerDll(player);
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
    Init(debugLevel);
  }

  // Sets the host port up and opens a stream on it; forgets the calls and
  // the records this made.
  void Playing(std::int32_t port, SP_HWND window = Window(0x1234)) {
    ASSERT_EQ(player->Play_SetOpenMode(port, 0), SP_OK);
    ASSERT_EQ(player->Play_OpenStream(window, port, header, sizeof header, 0), SP_OK);
    Forget();
  }

  // Forgets the fake's calls and removes both logs.
  void Forget() {
    fake_vdplay::ClearCalls();
    std::error_code ignored;
    std::filesystem::remove(sandbox.ErrorLog(), ignored);
    std::filesystem::remove(sandbox.RuntimeLog(), ignored);
  }

  // The error records, each stamped with the fixed clock's time.
  std::vector<ErrorRecord> Errors() const {
    std::vector<ErrorRecord> errors;
    for (const LogRecord& record : ReadWholeRecords(sandbox.ErrorLog())) {
      bool recordOk = true;
      errors.push_back(ToErrorRecord(record, recordOk));
      EXPECT_TRUE(recordOk) << "malformed error record";
      EXPECT_EQ(record.timestamp, "12-07 09:05:03.04");
    }
    return errors;
  }

  std::vector<LogRecord> Traces() const { return ReadWholeRecords(sandbox.RuntimeLog()); }

  // The only error record, expected with this code, message and context
  // (an own-check record has no context line).
  void ExpectOnlyError(int code, const std::string& message, const char* context = nullptr) {
    const std::vector<ErrorRecord> errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    ExpectError(errors[0], code, message, context);
  }

  static void ExpectError(const ErrorRecord& error, int code, const std::string& message,
                          const char* context = nullptr) {
    EXPECT_EQ(error.code, code);
    EXPECT_EQ(error.message, message);
    EXPECT_EQ(error.hasContext, context != nullptr);
    if (context != nullptr) {
      EXPECT_EQ(error.context, context);
    }
    // The source position names only the file, never its folders.
    EXPECT_EQ(error.sourceFile.find_first_of("/\\"), std::string::npos) << error.sourceFile;
    EXPECT_GT(error.line, 0);
  }

  // The arguments of the fake's call number `index`; none when there is no such call.
  static Args CallArgs(std::size_t index) {
    const std::vector<fake_vdplay::Call> calls = fake_vdplay::Calls();
    EXPECT_LT(index, calls.size());
    return index < calls.size() ? calls[index].args : Args{};
  }

  // The argument list of the only call of the function.
  static std::vector<std::int64_t> OnlyCallArgs(const std::string& function) {
    std::vector<std::int64_t> args;
    int count = 0;
    for (const fake_vdplay::Call& call : fake_vdplay::Calls()) {
      if (call.function != function) continue;
      args = call.args;
      ++count;
    }
    EXPECT_EQ(count, 1) << function;
    return args;
  }

  Sandbox sandbox;
  const TempDir& dir = sandbox.Dir();
  const std::string& configRoot = sandbox.Root();  // the folder that plays the system drive's root
  const std::string& logDir = sandbox.LogDir();    // the trace folder of Init()
  ISinglePlayer* player = nullptr;
  std::uint8_t header[4] = {'V', 'D', 'H', 'R'};
  std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
};

}  // namespace sp_test
