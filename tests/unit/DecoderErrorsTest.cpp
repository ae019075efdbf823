#include <gtest/gtest.h>

#include <set>
#include <string>

#include "log/DecoderErrors.h"
#include "support/TempDir.h"

namespace {

// The expected messages as GBK bytes in hex, written independently of the
// library's own escapes.
const char* const kExpectedGbkHex[24] = {
    "",
    "cae4c8ebb2cecafdb7c7b7a8",  // 输入参数非法
    "b5f7d3c3cbb3d0f2b2bbb6d4",  // 调用顺序不对
    "b4b4bda8b6e0c3bdcce5b6a8cab1c6f7b4edcef3",  // 创建多媒体定时器错误
    "cad3c6b5bde2c2ebcaa7b0dc",  // 视频解码失败
    "d2f4c6b5bde2c2ebcaa7b0dc",  // 音频解码失败
    "b7d6c5e4c4dab4e6caa7b0dc",  // 分配内存失败
    "cec4bcfeb2d9d7f7caa7b0dc",  // 文件操作失败
    "b4b4bda8cfdfb3cccac2bcfeb5c8caa7b0dc",  // 创建线程事件等失败
    "b4b4bda864697265637444726177caa7b0dc",  // 创建directDraw失败
    "b4b4bda8baf3b6cbbbbab4e6caa7b0dc",  // 创建后端缓存失败
    "bbbab3e5c7f8c2faa3accae4c8ebc1f7caa7b0dc",  // 缓冲区满，输入流失败
    "b4b4bda8d2f4c6b5c9e8b1b8caa7b0dc",  // 创建音频设备失败
    "c9e8d6c3d2f4c1bfcaa7b0dc",  // 设置音量失败
    "d6bbc4dcd4dab2a5b7c5cec4bcfecab1b2c5c4dccab9d3c3b4cbbdd3bfda",  // 只能在播放文件时才能使用此接口
    "d6bbc4dcd4dab2a5b7c5c1f7cab1b2c5c4dccab9d3c3b4cbbdd3bfda",  // 只能在播放流时才能使用此接口
    "cfb5cdb3b2bbd6a7b3d6a3acbde2c2ebc6f7d6bbc4dcb9a4d7f7d4da50656e7469756d2033d2d4c9cf",  // 系统不支持，解码器只能工作在Pentium 3以上
    "c3bbd3d0cec4bcfecdb7",  // 没有文件头
    "bde2c2ebc6f7bacdb1e0c2ebc6f7b0e6b2bbb6d4d3a6",  // 解码器和编码器版不对应
    "b3f5cabcbbafbde2c2ebc6f7caa7b0dc",  // 初始化解码器失败
    "b2e2cad4cec4bcfecdb7ceb2cafdbeddcab1c3bbd3d0d5d2b5bdd3d0d0a7cafdbedda3bbcec4bcfeccabb6ccbbf2c2ebc1f7cedeb7a8cab6b1f0",  // 测试文件头尾数据时没有找到有效数据；文件太短或码流无法识别
    "b3f5cabcbbafc3bdcce5cab1d6d3b4edcef3",  // 初始化媒体时钟错误
    "cebbbfbdb1b4caa7b0dc",  // 位拷贝失败
    "cfd4cabe6f7665726c6179caa7b0dc",  // 显示overlay失败
};
const char kUnknownGbkHex[] = "ceb4d6aab4edcef3";  // 未知错误

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct Record {
  std::string code;
  std::string context;
  std::string message;
  std::string callContext;
};

// Parses the last error record of the file.
Record LastRecord(const std::string& text) {
  Record r;
  const std::string::size_type start = text.rfind("\r\n[");
  const std::string body = text.substr(start);
  auto field = [&](const std::string& label) {
    const std::string::size_type at = body.find(label + ":[") + label.size() + 2;
    return body.substr(at, body.find("]\r\n", at) - at);
  };
  r.code = field("ErrCode");
  const std::string::size_type c = body.find("Context:[") + 9;
  r.context = body.substr(c, body.find("]]\r\n", c) + 1 - c);
  const std::string::size_type e = body.find("ErrString:[") + 11;
  const std::string::size_type lineBreak = body.find("\r\n", e);
  r.message = body.substr(e, lineBreak - e);
  const std::string::size_type end = body.rfind("]\r\n");
  r.callContext = body.substr(lineBreak + 2, end - lineBreak - 2);
  return r;
}

class DecoderErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override { log.SetErrorLogPath(dir.File("err.log")); }
  Record Report(int code, const std::string& context, int expectedResult) {
    EXPECT_EQ(sp::ReportDecoderError(log, code, context), expectedResult) << "code " << code;
    return LastRecord(sp_test::ReadFile(dir.File("err.log")));
  }
  sp_test::TempDir dir;
  sp::LogFile log;
};

TEST_F(DecoderErrorsTest, EveryTableEntryHasItsMessageResultAndOwnLine) {
  std::set<std::string> contexts;
  for (int code = 1; code <= 23; ++code) {
    const Record r = Report(code, "VdPlay_Play()", code + 1);
    EXPECT_EQ(r.code, std::to_string(code));
    EXPECT_EQ(Hex(r.message), kExpectedGbkHex[code]) << "code " << code;
    EXPECT_EQ(r.callContext, "VdPlay_Play()");
    EXPECT_EQ(r.context.rfind("Source File: [DecoderErrors.cpp], LINE: [", 0), 0u) << r.context;
    contexts.insert(r.context);
  }
  EXPECT_EQ(contexts.size(), 23u) << "each entry reports from its own line";
}

TEST_F(DecoderErrorsTest, CodesOutsideTheTableAreUnknownWith26) {
  for (int code : {0, 24, 25, -1, 1000, INT32_MIN}) {
    const Record r = Report(code, "ctx()", 26);
    EXPECT_EQ(r.code, std::to_string(code));
    EXPECT_EQ(Hex(r.message), kUnknownGbkHex);
  }
}

TEST_F(DecoderErrorsTest, EmptyContextLeavesOnlyTheClosingBracketOnItsLine) {
  sp::ReportDecoderError(log, 2, "");
  const std::string text = sp_test::ReadFile(dir.File("err.log"));
  EXPECT_EQ(text.substr(text.size() - 5), "\r\n]\r\n");
}

TEST_F(DecoderErrorsTest, ResultDoesNotDependOnWritingTheRecord) {
  log.SetErrorLogPath(dir.File("no/such/folder/err.log"));
  EXPECT_EQ(sp::ReportDecoderError(log, 11, "VdPlay_InputData()"), 12);
  EXPECT_EQ(sp::ReportDecoderError(log, 99, "VdPlay_InputData()"), 26);
}

}  // namespace
