// Constants shared by every module: the product's data tree below the system
// drive's root, a few fixed names and a table of picture heights. Each module
// that includes this header gets its own copy of every constant; they are
// built at load time in the order written, so every composed constant finds
// its parts already built.
#pragma once

#include <cstdint>
#include <string>

namespace sp {

// Folders are relative, use "/" and end in "/": a user puts the drive root
// (such as C:/) in front of them.
static const std::string ROOT_DIR = "q38/";
static const std::string CONFIG_DIR = ROOT_DIR + "cfg/";
static const std::string CONFIG_FILE_PATH = CONFIG_DIR + "Q38.cfg";
static const std::string WRITING_DIR = ROOT_DIR + "writing/";
static const std::string INDEX_NAME = "idx";
static const std::string MAKER_NAME = "KALVEN";
static const std::string LOCAL_HOST = "127.0.0.1";

// Picture height in lines by video standard (row) and picture-format code
// (column). Row 1 is 525-line video, rows 0, 2 and 3 are 625-line video.
static const std::int32_t PICTURE_HEIGHTS[4][14] = {
    {288, 144, 288, 576, 72, 288, 288, 0, 0, 0, 0, 0, 0, 0},
    {240, 120, 240, 480, 60, 240, 240, 0, 0, 0, 0, 0, 0, 0},
    {288, 144, 288, 576, 72, 288, 288, 0, 0, 0, 0, 0, 0, 0},
    {288, 144, 288, 576, 72, 288, 288, 0, 0, 0, 0, 0, 0, 0},
};

}  // namespace sp
