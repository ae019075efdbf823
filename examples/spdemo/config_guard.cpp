#include "config_guard.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace spdemo {
namespace {

namespace fs = std::filesystem;

bool readWhole(const std::string& path, std::vector<char>& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeWhole(const std::string& path, const char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

// Creates the missing folders above path, outermost first, and lists the
// ones it made, innermost first, so that they can be removed again.
bool makeParentFolders(const fs::path& file, std::vector<std::string>& made) {
  std::vector<fs::path> missing;
  std::error_code error;
  for (fs::path folder = file.parent_path(); !folder.empty() && !fs::exists(folder, error);
       folder = folder.parent_path()) {
    missing.push_back(folder);
    if (folder == folder.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!fs::create_directory(*it, error) && error) return false;
    made.insert(made.begin(), it->string());
  }
  return true;
}

}  // namespace

std::string withSlash(std::string dir) {
  for (char& c : dir) {
    if (c == '\\') c = '/';
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool ConfigGuard::write(const std::string& configPath, const std::string& traceDir,
                        std::string& error) {
  restore();
  std::error_code fsError;
  path_ = configPath;
  hadFile_ = fs::exists(configPath, fsError);
  oldContents_.clear();
  madeFolders_.clear();
  if (hadFile_ && !readWhole(configPath, oldContents_)) {
    error = "cannot read " + configPath + " to keep it";
    return false;
  }
  active_ = true;  // from here on restore() undoes whatever was done
  const std::string text =
      "[GLOBAL]\r\n[TRACE_PATH][" + withSlash(traceDir) + "]\r\n[DEBUG_LEVEL][1]\r\n";
  if (!makeParentFolders(configPath, madeFolders_) ||
      !writeWhole(configPath, text.data(), text.size())) {
    error = "cannot write " + configPath;
    restore();
    return false;
  }
  return true;
}

bool ConfigGuard::restore() {
  if (!active_) return true;
  active_ = false;
  std::error_code error;
  bool ok = true;
  if (hadFile_) {
    ok = writeWhole(path_, oldContents_.data(), oldContents_.size());
  } else {
    fs::remove(path_, error);
    ok = !fs::exists(path_, error);
    for (const std::string& folder : madeFolders_) {
      fs::remove(folder, error);  // only when empty; someone else may use it now
    }
  }
  if (!ok) std::fprintf(stderr, "spdemo: could not put %s back as it was\n", path_.c_str());
  return ok;
}

}  // namespace spdemo
