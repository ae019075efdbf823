#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/ConfigFile.h"
#include "support/TempDir.h"

namespace {

using sp_test::TempDir;

class ConfigReadTest : public ::testing::Test {
 protected:
  // Writes the file and reads one key of it; the value starts as "unchanged".
  int Read(const std::string& contents, const std::string& section, const std::string& key,
           std::string& value) {
    sp_test::WriteFile(dir.File("q.cfg"), contents);
    value = "unchanged";
    return config.ReadConfigValue(dir.File("q.cfg"), section, key, value);
  }
  TempDir dir;
  sp::ConfigFile config;
  std::string value;
};

TEST_F(ConfigReadTest, ReadsTheDocumentedExample) {
  const std::string file =
      "#trace settings of the player library\n[GLOBAL]\n[TRACE_PATH][d:/player/trace/]\n"
      "[DEBUG_LEVEL][2]\n";
  EXPECT_EQ(Read(file, "GLOBAL", "TRACE_PATH", value), 0);
  EXPECT_EQ(value, "d:/player/trace/");
  EXPECT_EQ(Read(file, "GLOBAL", "DEBUG_LEVEL", value), 0);
  EXPECT_EQ(value, "2");
  EXPECT_EQ(Read(file, "GLOBAL", "MISSING", value), -1);
  EXPECT_EQ(value, "unchanged");
  EXPECT_EQ(Read(file, "OTHER", "TRACE_PATH", value), -1);
}

TEST_F(ConfigReadTest, MissingFileOrEmptyNameFails) {
  value = "unchanged";
  EXPECT_EQ(config.ReadConfigValue(dir.File("none.cfg"), "GLOBAL", "TRACE_PATH", value), -1);
  EXPECT_EQ(config.ReadConfigValue("", "GLOBAL", "TRACE_PATH", value), -1);
  EXPECT_EQ(value, "unchanged");
}

TEST_F(ConfigReadTest, CommentsOnlyAtTheFirstByte) {
  EXPECT_EQ(Read("#[GLOBAL]\n[K][1]\n", "GLOBAL", "K", value), -1);
  EXPECT_EQ(Read(" #[GLOBAL]\n[K][1]\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "1");
  EXPECT_EQ(Read("[GLOBAL]\n#[K][1]\n[K][2]\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "2");
}

TEST_F(ConfigReadTest, NamesCompareWholeAndCaseSensitive) {
  EXPECT_EQ(Read("[ GLOBAL ]\n[K][1]\n", "GLOBAL", "K", value), -1);
  EXPECT_EQ(Read("[global]\n[K][1]\n", "GLOBAL", "K", value), -1);
  EXPECT_EQ(Read("[GLOBAL]\n[k][1]\n", "GLOBAL", "K", value), -1);
  EXPECT_EQ(Read("[GLOBAL] trailing remark\n[K] = [v] remark\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "v");
}

TEST_F(ConfigReadTest, EntryForms) {
  EXPECT_EQ(Read("[GLOBAL]\n[TRACE_PATH] = [d:/logs/]\n", "GLOBAL", "TRACE_PATH", value), 0);
  EXPECT_EQ(value, "d:/logs/");
  EXPECT_EQ(Read("[GLOBAL]\n[TRACE_PATH][]\n", "GLOBAL", "TRACE_PATH", value), 0);
  EXPECT_EQ(value, "");
  // No second field: fails at once, even with a good entry later.
  EXPECT_EQ(Read("[GLOBAL]\n[TRACE_PATH] d:/logs/\n[TRACE_PATH][x]\n", "GLOBAL", "TRACE_PATH",
                 value),
            -1);
  EXPECT_EQ(value, "unchanged");
  // A second "[" without its "]" on the line fails as well.
  EXPECT_EQ(Read("[GLOBAL]\n[K][open\n[K][x]\n", "GLOBAL", "K", value), -1);
  // Lines without a first field are ignored.
  EXPECT_EQ(Read("[GLOBAL]\nnothing here\n[unclosed\n[K][x]\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "x");
}

TEST_F(ConfigReadTest, TieBreaksAcrossHeaders) {
  // Nothing ends a section: the entry under a later header is still found.
  EXPECT_EQ(Read("[GLOBAL]\n[OTHER]\n[DEBUG_LEVEL][3]\n", "GLOBAL", "DEBUG_LEVEL", value), 0);
  EXPECT_EQ(value, "3");
  // Entries before the section's first header are not seen.
  EXPECT_EQ(Read("[K][early]\n[GLOBAL]\n[K][late]\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "late");
  // The first entry after the first header wins.
  EXPECT_EQ(Read("[GLOBAL]\n[K][a]\n[GLOBAL]\n[K][b]\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "a");
  EXPECT_EQ(Read("[GLOBAL]\n[X][a]\n[GLOBAL]\n[K][b]\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "b");
  // A key on the header's own line is not seen.
  EXPECT_EQ(Read("[GLOBAL][K][a]\n", "GLOBAL", "K", value), -1);
}

TEST_F(ConfigReadTest, LinesAreReadInPiecesOf99Bytes) {
  // The value closes exactly at byte 99: still one piece.
  const std::string fits = "[K][" + std::string(94, 'v') + "]";
  ASSERT_EQ(fits.size(), 99u);
  EXPECT_EQ(Read("[GLOBAL]\n" + fits + "\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, std::string(94, 'v'));
  // One byte more puts the closing bracket in the next piece.
  const std::string tooLong = "[K][" + std::string(95, 'v') + "]";
  EXPECT_EQ(Read("[GLOBAL]\n" + tooLong + "\n[K][ok]\n", "GLOBAL", "K", value), -1);
  // The rest of a long line is a piece of its own, and can be an entry.
  const std::string split = std::string(99, '-') + "[K][tail]";
  EXPECT_EQ(Read("[GLOBAL]\n" + split + "\n", "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "tail");
}

TEST_F(ConfigReadTest, ByteZeroEndsThePiece) {
  std::string file = "[GLOBAL]\n[K]";
  file += '\0';
  file += "[hidden]\n[K][seen]\n";
  EXPECT_EQ(Read(file, "GLOBAL", "K", value), -1);
  std::string early = "[GLOBAL]\n[J]";
  early += '\0';
  early += "x\n[K][seen]\n";
  EXPECT_EQ(Read(early, "GLOBAL", "K", value), 0);
  EXPECT_EQ(value, "seen");
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }
  bool IsDir(const std::string& path) { return std::filesystem::is_directory(path); }
  TempDir dir;
  std::filesystem::path previous;
  sp::ConfigFile config;
};

TEST_F(DirectoryTest, PathExistsForFilesFoldersAndDrives) {
  sp_test::WriteFile("plain", "x");
  std::filesystem::create_directory("folder");
  EXPECT_EQ(config.PathExists(""), 0);
  EXPECT_EQ(config.PathExists("plain"), 1);
  EXPECT_EQ(config.PathExists("plain/"), 0);
  EXPECT_EQ(config.PathExists("folder"), 1);
  EXPECT_EQ(config.PathExists("folder/"), 1);
  EXPECT_EQ(config.PathExists("folder\\"), 1);
  EXPECT_EQ(config.PathExists("missing"), 0);
  EXPECT_EQ(config.PathExists(dir.Slashed()), 1);
#if defined(_WIN32)
  EXPECT_EQ(config.PathExists("c:"), 1);
  EXPECT_EQ(config.PathExists("c:\\"), 1);
#endif
}

TEST_F(DirectoryTest, CreatesRelativePathsLevelByLevel) {
  EXPECT_EQ(config.MakeDirectoryPath("q38/writing/"), 0);
  EXPECT_TRUE(IsDir("q38"));
  EXPECT_TRUE(IsDir("q38/writing"));
  EXPECT_EQ(config.MakeDirectoryPath("q38\\writing\\deeper"), 0);
  EXPECT_TRUE(IsDir("q38/writing/deeper"));
  EXPECT_EQ(config.MakeDirectoryPath("q38/writing/deeper"), 0);
  EXPECT_EQ(config.MakeDirectoryPath(""), 0);
}

TEST_F(DirectoryTest, FirstThreeCharactersNeverCountAsASeparator) {
  // "ab/" lies within the first three characters, so "ab" is never created.
  EXPECT_EQ(config.MakeDirectoryPath("ab/cd/"), -1);
  EXPECT_FALSE(std::filesystem::exists("ab"));
}

TEST_F(DirectoryTest, AFileInThePathStopsCreation) {
  sp_test::WriteFile("blocker", "x");
  EXPECT_EQ(config.MakeDirectoryPath("blocker/sub/"), -1);
  EXPECT_EQ(config.MakeDirectoryPath("okay/blocker2/"), 0);
}

TEST_F(DirectoryTest, AbsolutePathsAndDriveLetters) {
  EXPECT_EQ(config.MakeDirectoryPath(dir.Slashed() + "abs/one/two"), 0);
  EXPECT_TRUE(IsDir(dir.Slashed() + "abs/one/two"));
#if defined(_WIN32)
  // A drive-letter path with backslashes, below the private prefix's C:.
  std::error_code ignored;
  std::filesystem::remove_all("C:/sp_mkdir_test", ignored);
  EXPECT_EQ(config.MakeDirectoryPath("C:\\sp_mkdir_test\\logs\\a"), 0);
  EXPECT_TRUE(IsDir("C:/sp_mkdir_test/logs/a"));
  EXPECT_EQ(config.MakeDirectoryPath("C:\\sp_mkdir_test\\logs\\a"), 0);
  std::filesystem::remove_all("C:/sp_mkdir_test", ignored);
#endif
}

}  // namespace
