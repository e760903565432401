// SHA-256 against the standard's own examples and against the system's
// sha256sum on files of every length around the block and padding edges,
// fed in pieces of awkward sizes.
#include "app/sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>

namespace {

std::string Hex(const std::string &bytes, size_t piece) {
  Sha256 hash;
  Sha256Begin(&hash);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    Sha256Add(&hash, bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  char hex[SHA256_HEX_SIZE];
  Sha256End(&hash, hex);
  return hex;
}

TEST(Sha256, StandardExamples) {
  const struct {
    std::string message;
    const char *digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message.substr(0, 16));
    for (size_t piece : {size_t(1), size_t(63), size_t(64), size_t(1) << 20}) {
      EXPECT_EQ(Hex(c.message, piece), c.digest) << "pieces of " << piece;
    }
  }
}

TEST(Sha256, AgreesWithSha256sumOnGeneratedFiles) {
  if (system("command -v sha256sum >/dev/null") != 0) GTEST_SKIP() << "no sha256sum";
  std::mt19937 random(29);
  char path[] = "/tmp/sha256-test-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  for (size_t size : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 4095, 65536, 65537, 300001}) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (char &byte : bytes) byte = static_cast<char>(random());
    FILE *file = fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    FILE *pipe = popen((std::string("sha256sum ") + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof(line), pipe), nullptr);
    pclose(pipe);
    EXPECT_EQ(Hex(bytes, 4093), std::string(line, 64));
  }
  unlink(path);
}

}  // namespace
