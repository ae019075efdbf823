// Fixture of the integration tests: the player (from sp_core, so the system
// folder can point into a sandbox) driving the real VdPlay library, with its
// configuration file and logs in the sandbox. Tests open streams on host
// port 0.
#pragma once

#include <gtest/gtest.h>

#include <SinglePlayer.h>
#include <VdPlay.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/LogRecords.h"
#include "support/Sandbox.h"
#include "support/ShownFrames.h"
#include "support/StandInPorts.h"
#include "support/TestStreams.h"

namespace sp_test {

class PlayerOverDecoder : public ::testing::Test {
 protected:
  static constexpr std::int32_t kPort = 0;

  void SetUp() override {
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
  }

  void TearDown() override {
    if (player) player->Play_CloseStream(kPort);
    ShownFrames::Get().Uninstall();
    ReleaseSinglePlayerDll(player);
  }

  // Writes the configuration file (logs into the sandbox) and initialises
  // the player with it.
  void Init(int debugLevel) {
    sandbox_.Configure(debugLevel);
    ASSERT_EQ(player->Play_Init(0), SP_OK);
  }

  void Open(const TestStream& s, SP_HWND window = nullptr) {
    ASSERT_EQ(player->Play_SetOpenMode(kPort, 0), SP_OK);
    Bytes header = s.header;
    ASSERT_EQ(player->Play_OpenStream(window, kPort, header.data(),
                                      static_cast<std::uint32_t>(header.size()), 0),
              SP_OK);
  }

  std::int32_t Input(const Bytes& data) {
    Bytes copy = data;
    return player->Play_InputData(kPort, copy.data(), static_cast<std::uint32_t>(copy.size()), 0);
  }

  std::uint32_t Shown() const { return OpenStreamStats().framesDisplayed; }

  std::string TempFile(const std::string& name) const { return sandbox_.File(name); }

  std::vector<ErrorRecord> ErrorRecords() const { return ReadErrorRecords(sandbox_.ErrorLog()); }

  ISinglePlayer* player = nullptr;

 private:
  Sandbox sandbox_;
};

}  // namespace sp_test
