// The player's own texts. They are GBK (code page 936) bytes, written as
// escapes so that the built library holds GBK whatever the encoding of this
// file; the comment on each line gives the text.
#pragma once

namespace sp::texts {

// Error texts of failures that the operations find themselves.
inline constexpr const char kTextBadArgument[] = "\xb2\xce\xca\xfd\xb4\xed\xce\xf3";  // 参数错误
inline constexpr const char kTextInputToClosedPort[] = "\xcf\xf2\xce\xb4\xb4\xf2\xbf\xaa\xb5\xc4\xcd\xa8\xb5\xc0\xca\xe4\xc8\xeb\xca\xfd\xbe\xdd";  // 向未打开的通道输入数据
inline constexpr const char kTextCannotStopUnstarted[] = "\xb2\xbb\xc4\xdc\xcd\xa3\xd6\xb9\xc3\xbb\xd3\xd0\xbf\xaa\xca\xbc\xb5\xc4\xcd\xa8\xb5\xc0";  // 不能停止没有开始的通道
inline constexpr const char kTextCannotChangeUnstarted[] = "\xb2\xbb\xc4\xdc\xb8\xc4\xb1\xe4\xc3\xbb\xd3\xd0\xbf\xaa\xca\xbc\xb5\xc4\xcd\xa8\xb5\xc0";  // 不能改变没有开始的通道
inline constexpr const char kTextMustStopFirst[] = "\xb1\xd8\xd0\xeb\xcf\xc8\xcd\xa3\xd6\xb9\xb2\xa5\xb7\xc5";  // 必须先停止播放
inline constexpr const char kTextPathNotSet[] = "\xc2\xb7\xbe\xb6\xce\xb4\xc9\xe8\xd6\xc3";  // 路径未设置
inline constexpr const char kTextCaptureTimeout[] = "\xd7\xa5\xcd\xbc\xb3\xac\xca\xb1";  // 抓图超时

// Label (description) and value (trace name) of each operation's trace record,
// the names of its arguments as the level-3 records show them, and the debug
// level from which the operation writes its record.
struct TraceText {
  const char* label;
  const char* name;
  const char* argumentNames;
  int traceLevel = 1;
};

inline constexpr TraceText kTraceSetOverlayMode = {"\xc9\xe8\xd6\xc3Overlay\xc4\xa3\xca\xbd", "Play_SetOverlayMode", "port, colorKey"};  // 设置Overlay模式
inline constexpr TraceText kTraceGetPreviewMode = {"\xbb\xf1\xc8\xa1\xcf\xd4\xca\xbe\xc4\xa3\xca\xbd", "Play_GetPreviewMode", "port, overlayMode, colorKey"};  // 获取显示模式
inline constexpr TraceText kTraceSetOpenMode = {"\xc9\xe8\xd6\xc3\xb2\xa5\xb7\xc5\xc4\xa3\xca\xbd", "Play_SetOpenMode", "port, openMode"};  // 设置播放模式
inline constexpr TraceText kTraceOpenStream = {"\xb4\xf2\xbf\xaa\xca\xfd\xbe\xdd\xc1\xf7", "Play_OpenStream", "window, port, header, headerLength, unused"};  // 打开数据流
inline constexpr TraceText kTraceInputData = {"\xca\xe4\xc8\xeb\xca\xfd\xbe\xdd\xc1\xf7", "Play_InputData", "port, data, length, unused", 2};  // 输入数据流
inline constexpr TraceText kTraceCloseStream = {"\xb9\xd8\xb1\xd5\xca\xfd\xbe\xdd\xc1\xf7", "Play_CloseStream", "port"};  // 关闭数据流
inline constexpr TraceText kTracePlayState = {"\xb5\xf7\xd5\xfb\xb2\xa5\xb7\xc5\xd7\xb4\xcc\xac", "Play_PlayState", "port, state"};  // 调整播放状态
inline constexpr TraceText kTraceGetPlayState = {"\xbb\xf1\xb5\xc3\xb2\xa5\xb7\xc5\xd7\xb4\xcc\xac", "Play_GetPlayState", "port, state"};  // 获得播放状态
inline constexpr TraceText kTraceSetVolume = {"\xc9\xe8\xd6\xc3\xb2\xa5\xb7\xc5\xd2\xf4\xc1\xbf", "Play_SetVolume", "port, volume"};  // 设置播放音量
inline constexpr TraceText kTraceGetVolume = {"\xbb\xf1\xb5\xc3\xb2\xa5\xb7\xc5\xd2\xf4\xc1\xbf", "Play_GetVolume", "port, volume"};  // 获得播放音量
inline constexpr TraceText kTraceGetPicture = {"\xd7\xa5\xc8\xa1\xcd\xbc\xc6\xac", "Play_GetPicture", "port, path"};  // 抓取图片
inline constexpr TraceText kTraceRefreshPlay = {"\xcb\xa2\xd0\xc2\xcf\xd4\xca\xbe", "Play_RefreshPlay", "port"};  // 刷新显示
inline constexpr TraceText kTraceGetHeadLen = {"\xbb\xf1\xc8\xa1\xcd\xb7\xb4\xf3\xd0\xa1", "Play_GetHeadLen", "headerLength"};  // 获取头大小
inline constexpr TraceText kTraceGetPictureSize = {"\xbb\xf1\xc8\xa1\xcd\xbc\xcf\xf1\xb3\xdf\xb4\xe7", "Play_GetPictureSize", "port, width, height"};  // 获取图像尺寸
inline constexpr TraceText kTraceSetPicQuality = {"\xc9\xe8\xd6\xc3\xbb\xad\xc3\xe6\xd6\xca\xc1\xbf", "Play_SetPicQuality", "port, quality"};  // 设置画面质量
inline constexpr TraceText kTraceGetPicQuality = {"\xb6\xc1\xc8\xa1\xbb\xad\xc3\xe6\xd6\xca\xc1\xbf", "Play_GetPicQuality", "port, quality"};  // 读取画面质量
inline constexpr TraceText kTraceThrowFrame = {"\xb2\xa5\xb7\xc5\xb6\xaa\xd6\xa1", "Play_ThrowFrame", "port, number", 2};  // 播放丢帧
inline constexpr TraceText kTraceGetThrowNum = {"\xbb\xf1\xc8\xa1\xb6\xaa\xd6\xa1\xca\xfd", "Play_GetThrowNum", "port, number"};  // 获取丢帧数
inline constexpr TraceText kTraceSetVideoPara = {"\xc9\xe8\xd6\xc3\xc1\xc1\xb6\xc8\xb5\xc8\xca\xd3\xc6\xb5\xb2\xce\xca\xfd", "Play_SetVideoPara", "port, para, restoreDefaults"};  // 设置亮度等视频参数
inline constexpr TraceText kTraceGetVideoPara = {"\xc9\xe8\xd6\xc3\xc1\xc1\xb6\xc8\xb5\xc8\xca\xd3\xc6\xb5\xb2\xce\xca\xfd", "Play_SetVideoPara", "port, para"};  // 设置亮度等视频参数
inline constexpr TraceText kTraceSetDispRegion = {"\xc9\xe8\xd6\xc3\xcf\xd4\xca\xbe\xc7\xf8\xd3\xf2", "Play_SetDispRegion", "port, enable, rect"};  // 设置显示区域
inline constexpr TraceText kTraceGetDispRegion = {"\xc9\xe8\xd6\xc3\xcf\xd4\xca\xbe\xc7\xf8\xd3\xf2", "Play_SetDispRegion", "port, rect"};  // 设置显示区域
inline constexpr TraceText kTraceClearBuffer = {"\xc7\xe5\xc0\xed\xbb\xba\xb3\xe5\xc7\xf8", "Play_ClearBuffer", "port"};  // 清理缓冲区
inline constexpr TraceText kTraceGetBufferRemainDataSize = {"\xbb\xf1\xb5\xc3\xbb\xba\xb3\xe5\xc7\xf8\xca\xa3\xd3\xe0\xca\xfd\xbe\xdd\xb4\xf3\xd0\xa1", "Play_GetBufferRemainDataSize", "port, size"};  // 获得缓冲区剩余数据大小

}  // namespace sp::texts
