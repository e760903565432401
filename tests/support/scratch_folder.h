// A fresh folder under /tmp for each test, removed with all it holds when
// the test ends, and the quoting for the shell commands the tool tests run.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace testsupport {

class ScratchFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bus-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Writes `bytes` to `name` below the folder, making its parent folders.
  std::string Write(const std::string &name, const std::string &bytes) {
    std::string path = dir_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir_;
};

// `word` as one POSIX shell word.
inline std::string ShellQuote(const std::string &word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace testsupport
