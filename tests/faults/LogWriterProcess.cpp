// One of the processes of the shared-log test: appends COUNT records to the
// log at PATH, each naming TAG and its number, with the log rotating at
// ROTATION_BYTES. The padding's length varies, so records have odd and even
// lengths.
//   log_writer_process PATH TAG COUNT ROTATION_BYTES
#include <cstdlib>
#include <string>

#include "log/LogFile.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string path = argv[1];
  const std::string tag = argv[2];
  const int count = std::atoi(argv[3]);
  sp::testing::SetLogRotationBytes(std::atol(argv[4]));
  for (int i = 0; i < count; ++i) {
    sp::LogFile::WriteRecord(path, "writer", tag, "number", std::to_string(i), "padding",
                             std::string(100 + i % 7, 'p'));
  }
  return 0;
}
