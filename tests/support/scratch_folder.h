// A fresh folder under /tmp for each test, removed with all it holds when
// the test ends, and the quoting and running of the shell commands the tool
// tests make.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

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

// Runs `command` through the shell, appends what it writes on stdout to
// *out, and returns its exit status (128 + the signal when one ended it).
inline int RunShellCommand(const std::string &command, std::string *out) {
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out->append(buffer, count);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testsupport
