// Soak: thousands of open, play, input and close cycles spread over 32 host
// ports through the stand-in decoder. Resident memory after warm-up, open
// file descriptors (handles on Windows) and threads must stay flat: more
// than 1 MB of memory growth, or any descriptor or thread more, fails.
// "--cycles=N" on the command line sets the number of cycles.
#include <gtest/gtest.h>

#include <SinglePlayer.h>
#include <VdStreamFormat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <unistd.h>
#endif

#include "support/CommandLine.h"
#include "support/Sandbox.h"

namespace {

#if defined(_WIN32)
constexpr int kDefaultCycles = 1000;
#else
constexpr int kDefaultCycles = 10000;
#endif
constexpr int kPorts = 32;
constexpr long kMaxMemoryGrowthBytes = 1L << 20;

struct Usage {
  long residentBytes = 0;
  long descriptors = 0;  // file descriptors; handles on Windows
  long threads = 0;
};

#if defined(_WIN32)
Usage MeasureUsage() {
  Usage usage;
  PROCESS_MEMORY_COUNTERS counters{};
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    usage.residentBytes = static_cast<long>(counters.WorkingSetSize);
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) usage.descriptors = handles;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++usage.threads;
    }
    CloseHandle(snapshot);
  }
  return usage;
}
#else
long CountEntries(const char* folder) {
  long count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

Usage MeasureUsage() {
  Usage usage;
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) == 2) {
      usage.residentBytes = resident * sysconf(_SC_PAGESIZE);
    }
    std::fclose(statm);
  }
  usage.descriptors = CountEntries("/proc/self/fd");
  usage.threads = CountEntries("/proc/self/task");
  return usage;
}
#endif

// Memory figures mean nothing under a sanitizer (its quarantine keeps freed
// memory) or with too few cycles to reach a steady state.
bool MemoryIsMeasurable(int cycles) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  (void)cycles;
  return false;
#else
  return cycles >= 1000;
#endif
}

TEST(Soak, OpenPlayInputCloseCyclesLeaveMemoryDescriptorsAndThreadsFlat) {
  const int cycles = sp_test::NumberArgument("--cycles", kDefaultCycles);
  sp_test::Sandbox sandbox;
  sandbox.Configure(0);
  const std::vector<std::uint8_t> header = vdstream::makeFileHeader(16, 16, 25, 1);
  std::vector<std::uint8_t> picture(vdstream::pictureBytes(16, 16), 0x80);
  const std::vector<std::uint8_t> packet =
      vdstream::makePacket(picture.data(), picture.size(), 0, vdstream::Payload::Raw);

  ISinglePlayer* player = CreateSinglePlayerDll();
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  auto hostPort = [](int i) { return static_cast<std::int32_t>(i * 4 + 1); };
  for (int i = 0; i < kPorts; ++i) ASSERT_EQ(player->Play_SetOpenMode(hostPort(i), i % 2), SP_OK);

  const int warmUp = cycles / 10;
  Usage before;
  long failures = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == warmUp) before = MeasureUsage();
    const std::int32_t port = hostPort(cycle % kPorts);
    const std::int32_t opened = player->Play_OpenStream(
        nullptr, port, const_cast<std::uint8_t*>(header.data()),
        static_cast<std::uint32_t>(header.size()), 0);
    const std::int32_t fed = player->Play_InputData(
        port, const_cast<std::uint8_t*>(packet.data()), static_cast<std::uint32_t>(packet.size()),
        0);
    const std::int32_t closed = player->Play_CloseStream(port);
    if (opened != SP_OK || fed != SP_OK || closed != SP_OK) {
      if (failures++ == 0) {
        ADD_FAILURE() << "cycle " << cycle << ": open " << opened << ", input " << fed
                      << ", close " << closed;
      }
    }
  }
  const Usage after = MeasureUsage();
  ReleaseSinglePlayerDll(player);

  const long growth = after.residentBytes - before.residentBytes;
  std::printf(
      "soak: %d cycles over %d ports, %ld failed; after warm-up (%d cycles) to the end: resident "
      "memory %ld -> %ld KiB (%+ld KiB), descriptors %ld -> %ld, threads %ld -> %ld\n",
      cycles, kPorts, failures, warmUp, before.residentBytes / 1024, after.residentBytes / 1024,
      growth / 1024, before.descriptors, after.descriptors, before.threads, after.threads);
  EXPECT_EQ(failures, 0);
  EXPECT_LE(after.descriptors, before.descriptors);
  EXPECT_LE(after.threads, before.threads);
  if (MemoryIsMeasurable(cycles)) {
    EXPECT_LE(growth, kMaxMemoryGrowthBytes);
  }
}

}  // namespace
