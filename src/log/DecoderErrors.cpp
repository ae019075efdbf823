#include "log/DecoderErrors.h"

namespace sp {
namespace {

// Messages are GBK (code page 936) bytes; the comment on each line gives the
// text. Every entry reports from its own line, so the line number in the
// record also tells which entry wrote it.
void writeRecord(const LogFile& log, int code, const std::string& context) {
  // clang-format off
  switch (code) {
    case 1: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xca\xe4\xc8\xeb\xb2\xce\xca\xfd\xb7\xc7\xb7\xa8", context); return;  // 输入参数非法
    case 2: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb5\xf7\xd3\xc3\xcb\xb3\xd0\xf2\xb2\xbb\xb6\xd4", context); return;  // 调用顺序不对
    case 3: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb4\xb4\xbd\xa8\xb6\xe0\xc3\xbd\xcc\xe5\xb6\xa8\xca\xb1\xc6\xf7\xb4\xed\xce\xf3", context); return;  // 创建多媒体定时器错误
    case 4: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xca\xd3\xc6\xb5\xbd\xe2\xc2\xeb\xca\xa7\xb0\xdc", context); return;  // 视频解码失败
    case 5: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xd2\xf4\xc6\xb5\xbd\xe2\xc2\xeb\xca\xa7\xb0\xdc", context); return;  // 音频解码失败
    case 6: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb7\xd6\xc5\xe4\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc", context); return;  // 分配内存失败
    case 7: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xce\xc4\xbc\xfe\xb2\xd9\xd7\xf7\xca\xa7\xb0\xdc", context); return;  // 文件操作失败
    case 8: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb4\xb4\xbd\xa8\xcf\xdf\xb3\xcc\xca\xc2\xbc\xfe\xb5\xc8\xca\xa7\xb0\xdc", context); return;  // 创建线程事件等失败
    case 9: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb4\xb4\xbd\xa8" "directDraw\xca\xa7\xb0\xdc", context); return;  // 创建directDraw失败
    case 10: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb4\xb4\xbd\xa8\xba\xf3\xb6\xcb\xbb\xba\xb4\xe6\xca\xa7\xb0\xdc", context); return;  // 创建后端缓存失败
    case 11: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xbb\xba\xb3\xe5\xc7\xf8\xc2\xfa\xa3\xac\xca\xe4\xc8\xeb\xc1\xf7\xca\xa7\xb0\xdc", context); return;  // 缓冲区满，输入流失败
    case 12: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb4\xb4\xbd\xa8\xd2\xf4\xc6\xb5\xc9\xe8\xb1\xb8\xca\xa7\xb0\xdc", context); return;  // 创建音频设备失败
    case 13: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xc9\xe8\xd6\xc3\xd2\xf4\xc1\xbf\xca\xa7\xb0\xdc", context); return;  // 设置音量失败
    case 14: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xd6\xbb\xc4\xdc\xd4\xda\xb2\xa5\xb7\xc5\xce\xc4\xbc\xfe\xca\xb1\xb2\xc5\xc4\xdc\xca\xb9\xd3\xc3\xb4\xcb\xbd\xd3\xbf\xda", context); return;  // 只能在播放文件时才能使用此接口
    case 15: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xd6\xbb\xc4\xdc\xd4\xda\xb2\xa5\xb7\xc5\xc1\xf7\xca\xb1\xb2\xc5\xc4\xdc\xca\xb9\xd3\xc3\xb4\xcb\xbd\xd3\xbf\xda", context); return;  // 只能在播放流时才能使用此接口
    case 16: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xcf\xb5\xcd\xb3\xb2\xbb\xd6\xa7\xb3\xd6\xa3\xac\xbd\xe2\xc2\xeb\xc6\xf7\xd6\xbb\xc4\xdc\xb9\xa4\xd7\xf7\xd4\xdaPentium 3\xd2\xd4\xc9\xcf", context); return;  // 系统不支持，解码器只能工作在Pentium 3以上
    case 17: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xc3\xbb\xd3\xd0\xce\xc4\xbc\xfe\xcd\xb7", context); return;  // 没有文件头
    case 18: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xbd\xe2\xc2\xeb\xc6\xf7\xba\xcd\xb1\xe0\xc2\xeb\xc6\xf7\xb0\xe6\xb2\xbb\xb6\xd4\xd3\xa6", context); return;  // 解码器和编码器版不对应
    case 19: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb3\xf5\xca\xbc\xbb\xaf\xbd\xe2\xc2\xeb\xc6\xf7\xca\xa7\xb0\xdc", context); return;  // 初始化解码器失败
    case 20: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb2\xe2\xca\xd4\xce\xc4\xbc\xfe\xcd\xb7\xce\xb2\xca\xfd\xbe\xdd\xca\xb1\xc3\xbb\xd3\xd0\xd5\xd2\xb5\xbd\xd3\xd0\xd0\xa7\xca\xfd\xbe\xdd\xa3\xbb\xce\xc4\xbc\xfe\xcc\xab\xb6\xcc\xbb\xf2\xc2\xeb\xc1\xf7\xce\xde\xb7\xa8\xca\xb6\xb1\xf0", context); return;  // 测试文件头尾数据时没有找到有效数据；文件太短或码流无法识别
    case 21: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xb3\xf5\xca\xbc\xbb\xaf\xc3\xbd\xcc\xe5\xca\xb1\xd6\xd3\xb4\xed\xce\xf3", context); return;  // 初始化媒体时钟错误
    case 22: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xce\xbb\xbf\xbd\xb1\xb4\xca\xa7\xb0\xdc", context); return;  // 位拷贝失败
    case 23: log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xcf\xd4\xca\xbeoverlay\xca\xa7\xb0\xdc", context); return;  // 显示overlay失败
    default: break;
  }
  // clang-format on
  log.WriteErrorWithContext(__FILE__, __LINE__, code, "\xce\xb4\xd6\xaa\xb4\xed\xce\xf3", context);  // 未知错误
}

}  // namespace

int ReportDecoderError(const LogFile& log, int code, const std::string& context) noexcept {
  // The result never depends on the record: out of memory for the message,
  // the record is dropped and the table's result returned all the same.
  try {
    writeRecord(log, code, context);
  } catch (...) {
  }
  return DecoderErrorResult(code);
}

}  // namespace sp
