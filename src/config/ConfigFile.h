// Reads values from the bracket-syntax configuration file and creates folder
// paths level by level.
//
// The file is read in pieces of at most 99 bytes (a longer line is cut into
// several pieces, each handled as a line of its own). A piece beginning with
// "#" is a comment. A line's first field is the text between its first "["
// and the first "]" after it. A section header is any line whose first field
// is the section name; an entry is a line whose first field is the key and
// which has a second field, the value. The first matching header wins, then
// the first entry with the key anywhere after it.
#pragma once

#include <string>

#include "log/LogFile.h"

namespace sp {

class ConfigFile : public LogFile {
 public:
  // 0 and the value stored when found; -1 and value untouched otherwise.
  int ReadConfigValue(std::string file, std::string section, std::string key,
                      std::string& value) const;
  // 0 when every missing level was created (or none was missing); -1 when
  // creating a level failed.
  int MakeDirectoryPath(std::string path) const;
  // 1 when a file-system entry matches the path; 0 otherwise. A path ending
  // in "/" is tested as a folder, a bare drive "x:" through its root folder.
  int PathExists(std::string path) const;
};

}  // namespace sp
