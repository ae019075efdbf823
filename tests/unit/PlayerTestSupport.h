// Shared fixture of the player's unit tests: a player driven through its
// interface against the fake decoder, with the configuration file and both
// logs inside a private temporary folder.
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
#include "support/LogRecords.h"
#include "support/TempDir.h"
#include "support/TestIsolation.h"

namespace player_test {

// The player's texts as GBK bytes, written independently of the library's own.
namespace gbk {
inline const std::string kBadArgument = "\xb2\xce\xca\xfd\xb4\xed\xce\xf3";          // 参数错误
inline const std::string kInvalidInput = "\xca\xe4\xc8\xeb\xb2\xce\xca\xfd\xb7\xc7\xb7\xa8";  // 输入参数非法
inline const std::string kInputToClosedPort =
    "\xcf\xf2\xce\xb4\xb4\xf2\xbf\xaa\xb5\xc4\xcd\xa8\xb5\xc0\xca\xe4\xc8\xeb\xca\xfd\xbe\xdd";  // 向未打开的通道输入数据
inline const std::string kCannotStopUnstarted =
    "\xb2\xbb\xc4\xdc\xcd\xa3\xd6\xb9\xc3\xbb\xd3\xd0\xbf\xaa\xca\xbc\xb5\xc4\xcd\xa8\xb5\xc0";  // 不能停止没有开始的通道
inline const std::string kCannotChangeUnstarted =
    "\xb2\xbb\xc4\xdc\xb8\xc4\xb1\xe4\xc3\xbb\xd3\xd0\xbf\xaa\xca\xbc\xb5\xc4\xcd\xa8\xb5\xc0";  // 不能改变没有开始的通道
inline const std::string kMustStopFirst = "\xb1\xd8\xd0\xeb\xcf\xc8\xcd\xa3\xd6\xb9\xb2\xa5\xb7\xc5";  // 必须先停止播放
inline const std::string kPathNotSet = "\xc2\xb7\xbe\xb6\xce\xb4\xc9\xe8\xd6\xc3";  // 路径未设置
inline const std::string kCaptureTimeout = "\xd7\xa5\xcd\xbc\xb3\xac\xca\xb1";     // 抓图超时
inline const std::string kBufferFull =
    "\xbb\xba\xb3\xe5\xc7\xf8\xc2\xfa\xa3\xac\xca\xe4\xc8\xeb\xc1\xf7\xca\xa7\xb0\xdc";  // 缓冲区满，输入流失败
inline const std::string kWrongOrder = "\xb5\xf7\xd3\xc3\xcb\xb3\xd0\xf2\xb2\xbb\xb6\xd4";  // 调用顺序不对
inline const std::string kUnknown = "\xce\xb4\xd6\xaa\xb4\xed\xce\xf3";                      // 未知错误
}  // namespace gbk

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
#if defined(_WIN32)
    // The drive root is the first three characters of the system folder. A
    // relative "sp/" root inside this test's own folder (the working folder
    // for the test) keeps the configuration file off the shared C:/ of the
    // Wine prefix, so that concurrent test runs cannot disturb each other.
    savedWorkingDir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    configRoot = dir.File("sp/");
    sp::platform::testing::OverrideSystemDirectory(std::string("sp\\system32"));
#else
    configRoot = dir.File("root/");
    sp::platform::testing::OverrideSystemDirectory(configRoot);
#endif
    logDir = dir.File("logs/");
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
  }

  void TearDown() override {
    ReleaseSinglePlayerDll(player);
    ReleaseSinglePlayerDll(CreateSinglePlayerDll());  // whatever player a test left behind
    player = nullptr;
    fake_vdplay::Reset();
    sp_test::UseIsolatedSystemDirectory();
    sp::platform::testing::OverrideClock(nullptr);
#if defined(_WIN32)
    std::filesystem::current_path(savedWorkingDir_);
#endif
  }

  sp::SinglePlayer& Impl() const { return *static_cast<sp::SinglePlayer*>(player); }

  std::string ConfigPath() const { return configRoot + "q38/cfg/Q38.cfg"; }

  // Writes the configuration file with the given lines.
  void WriteConfig(const std::string& contents) {
    std::filesystem::create_directories(configRoot + "q38/cfg");
    sp_test::WriteFile(ConfigPath(), contents);
  }

  // Points both logs into logDir at the debug level, through Play_Init.
  void Init(int debugLevel) {
    WriteConfig("[GLOBAL]\n[TRACE_PATH][" + logDir + "]\n[DEBUG_LEVEL][" +
                std::to_string(debugLevel) + "]\n");
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
    std::filesystem::remove(logDir + "Vd_Player_Error.log", ignored);
    std::filesystem::remove(logDir + "Vd_Player_Runtime.log", ignored);
  }

  std::vector<sp_test::ErrorRecord> Errors() const {
    bool ok = true;
    std::vector<sp_test::ErrorRecord> errors;
    for (const sp_test::LogRecord& record :
         sp_test::ReadLogRecords(logDir + "Vd_Player_Error.log", ok)) {
      bool recordOk = true;
      errors.push_back(sp_test::ToErrorRecord(record, recordOk));
      EXPECT_TRUE(recordOk) << "malformed error record";
      EXPECT_EQ(record.timestamp, "12-07 09:05:03.04");
    }
    EXPECT_TRUE(ok) << "malformed error log";
    return errors;
  }

  std::vector<sp_test::LogRecord> Traces() const {
    bool ok = true;
    std::vector<sp_test::LogRecord> records =
        sp_test::ReadLogRecords(logDir + "Vd_Player_Runtime.log", ok);
    EXPECT_TRUE(ok) << "malformed runtime log";
    return records;
  }

  // The only error record, expected with this code, message and context
  // (an own-check record has no context line).
  void ExpectOnlyError(int code, const std::string& message, const char* context = nullptr) {
    const std::vector<sp_test::ErrorRecord> errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    ExpectError(errors[0], code, message, context);
  }

  static void ExpectError(const sp_test::ErrorRecord& error, int code, const std::string& message,
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

  sp_test::TempDir dir;
  std::string configRoot;  // the folder that plays the system drive's root
  std::string logDir;      // the trace folder of Init()
  ISinglePlayer* player = nullptr;
  std::uint8_t header[4] = {'V', 'D', 'H', 'R'};
  std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};

 private:
#if defined(_WIN32)
  std::filesystem::path savedWorkingDir_;
#endif
};

}  // namespace player_test
