#include <gtest/gtest.h>

#include "config/Constants.h"
#include "player/PlayerConfig.h"

namespace {

TEST(Constants, ComposedPathsHaveOneSeparatorBetweenParts) {
  EXPECT_EQ(sp::ROOT_DIR, "q38/");
  EXPECT_EQ(sp::CONFIG_DIR, "q38/cfg/");
  EXPECT_EQ(sp::CONFIG_FILE_PATH, "q38/cfg/Q38.cfg");
  EXPECT_EQ(sp::WRITING_DIR, "q38/writing/");
  EXPECT_EQ(sp::INDEX_NAME, "idx");
  EXPECT_EQ(sp::MAKER_NAME, "KALVEN");
  EXPECT_EQ(sp::LOCAL_HOST, "127.0.0.1");
  EXPECT_EQ(sp::PLAYER_CONFIG_FILE, sp::CONFIG_FILE_PATH);
}

TEST(Constants, PictureHeights) {
  EXPECT_EQ(sp::PICTURE_HEIGHTS[1][3], 480);
  EXPECT_EQ(sp::PICTURE_HEIGHTS[0][4], 72);
  EXPECT_EQ(sp::PICTURE_HEIGHTS[3][13], 0);
  for (int row = 0; row < 4; ++row) {
    const int full = sp::PICTURE_HEIGHTS[row][3];
    EXPECT_EQ(full, row == 1 ? 480 : 576);
    for (int half : {0, 2, 5, 6}) EXPECT_EQ(sp::PICTURE_HEIGHTS[row][half], full / 2) << half;
    EXPECT_EQ(sp::PICTURE_HEIGHTS[row][1], full / 4);
    EXPECT_EQ(sp::PICTURE_HEIGHTS[row][4], full / 8);
    for (int col = 7; col < 14; ++col) EXPECT_EQ(sp::PICTURE_HEIGHTS[row][col], 0);
  }
}

}  // namespace
