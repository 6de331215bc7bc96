#pragma once
// A folder of the running test's own, so that two suites at once (the
// native and the sanitizer build, or a developer's build beside CI) never
// share or delete each other's files:
//
//   TestFolder folder;                     // <tmp>/Suite.Name.XXXXXX
//   std::string db = folder / "h.db";
//
// Made with mkdtemp under the test temporary folder. Removed when the test
// passed; kept, and its place printed, when it failed. While it lives,
// serial line lock files of the test, and of the programs it starts, go
// into it (QORV_LOCK_DIR) rather than the system's lock folder.

#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace halvex::testing {

class TestFolder {
 public:
  TestFolder() {
    std::string name = "test";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
      name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_') c = '_';
    std::string pattern = ::testing::TempDir();
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += name + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a test folder like " + pattern);
    path_ = pattern;
    ::setenv("QORV_LOCK_DIR", path_.c_str(), 1);
  }
  ~TestFolder() {
    ::unsetenv("QORV_LOCK_DIR");
    if (::testing::Test::HasFailure()) {
      std::cerr << "test files kept in " << path_ << "\n";
      return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace halvex::testing
