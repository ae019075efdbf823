// Per-test isolation from the machine's folders (see TestIsolation.h): a
// listener that gtest calls around every test.
#include "support/TestIsolation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/Platform.h"
#include "support/TempDir.h"

namespace sp_test {
namespace {

class IsolationListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    folder_ = std::make_unique<TempDir>();
    std::error_code ignored;
    savedWorkingDir_ = std::filesystem::current_path(ignored);
    std::filesystem::current_path(folder_->Path(), ignored);
    UseIsolatedSystemDirectory();
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    sp_test::UseIsolatedSystemDirectory();
    std::error_code ignored;
    std::filesystem::current_path(savedWorkingDir_, ignored);
    folder_.reset();
  }

  const TempDir* Folder() const { return folder_.get(); }

 private:
  std::unique_ptr<TempDir> folder_;
  std::filesystem::path savedWorkingDir_;
};

IsolationListener* listener() {
  // Owned by gtest's listener list from the first call on.
  static IsolationListener* instance = [] {
    auto* created = new IsolationListener;
    ::testing::UnitTest::GetInstance()->listeners().Append(created);
    return created;
  }();
  return instance;
}

// Registered before main runs the tests.
const IsolationListener* const registered = listener();

}  // namespace

std::string IsolatedFolder() {
  const TempDir* folder = listener()->Folder();
  return folder != nullptr ? folder->Slashed() : std::string();
}

void UseIsolatedSystemDirectory() {
#if defined(_WIN32)
  // The drive root is the first three characters of the system folder: a
  // relative "sp/" inside the working folder, which is the test's folder.
  sp::platform::testing::OverrideSystemDirectory(std::string("sp\\system32"));
#else
  sp::platform::testing::OverrideSystemDirectory(IsolatedFolder() + "root/");
#endif
}

}  // namespace sp_test
