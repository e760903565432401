// Loading SMBIOS data as admins collect it (dump files and copies of
// /sys/firmware/dmi/tables) and the sorted search of a folder tree.
#include "sim/smbios_input.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "smbios/smbios_types.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

class SmbiosInput : public testsupport::ScratchFolderTest {
 protected:
};

uint8_t Sum(const uint8_t *bytes, size_t length) {
  uint8_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

TEST_F(SmbiosInput, SysfsCopyBecomesTheDumpDmidecodeWouldWrite) {
  fs::path corpus = fs::path(BUS_SOURCE_DIR) / "tests/data/dumps";
  for (const char *folder : {"sysfs-desktop-A05", "sysfs-server-3.2-only"}) {
    SCOPED_TRACE(folder);
    std::vector<uint8_t> dump;
    std::string error;
    ASSERT_TRUE(sim::LoadSmbiosInput((corpus / folder).string(), &dump, &error)) << error;
    std::ifstream in(corpus / folder / "DMI", std::ios::binary);
    std::vector<uint8_t> table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(dump.size(), 32 + table.size());
    EXPECT_TRUE(std::equal(table.begin(), table.end(), dump.begin() + 32));
    if (sim::AnchorOf(dump) == sim::SmbiosAnchor::V3) {
      Smbios3EntryPoint entry;
      std::memcpy(&entry, dump.data(), sizeof(entry));
      EXPECT_EQ(entry.TableAddress, 32u);
      EXPECT_EQ(Sum(dump.data(), sizeof(entry)), 0);
    } else {
      SmbiosEntryPoint entry;
      std::memcpy(&entry, dump.data(), sizeof(entry));
      EXPECT_EQ(entry.TableAddress, 32u);
      EXPECT_EQ(Sum(dump.data(), sizeof(entry)), 0);
      EXPECT_EQ(Sum(dump.data() + 0x10, 0x0F), 0);
    }
  }
}

TEST_F(SmbiosInput, RefusesWhatIsNotReadableSmbiosDataWithoutHanging) {
  Write("short/smbios_entry_point", "_SM3_");
  Write("short/DMI", "");
  Write("anchor/smbios_entry_point", std::string(31, 'x'));
  Write("anchor/DMI", "");
  Write("plain/file.txt", "x");
  std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string huge = Write("huge.bin", "");
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(sim::SMBIOS_INPUT_LIMIT + 1)), 0);
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {dir_ + "/missing.bin", "No such file"},
      {fifo, "not a regular file"},
      {huge, "too large"},
      {dir_ + "/short", "too short"},
      {dir_ + "/anchor", "no \"_SM_\" or \"_SM3_\" anchor"},
      {dir_ + "/plain", "without smbios_entry_point and DMI"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<uint8_t> dump;
    std::string error;
    EXPECT_FALSE(sim::LoadSmbiosInput(c.path, &dump, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST_F(SmbiosInput, SearchHandsOutDumpsAndSysfsFoldersInSortedOrder) {
  Write("tree/b.bin", "anything named .bin");
  Write("tree/a/x.BIN", "x");
  Write("tree/a/sys/smbios_entry_point", "_SM_");
  Write("tree/a/sys/DMI", "");
  Write("tree/a/sys/inside.bin", "not searched: the folder is one machine");
  Write("tree/a/notes.txt", "passed over");
  Write("tree/a/no-name", "_SM3_ and more");
  Write("tree/c/d/e.bin", "");
  fs::create_directories(dir_ + "/empty");
  ASSERT_EQ(symlink("..", (dir_ + "/tree/c/loop").c_str()), 0);
  ASSERT_EQ(mkfifo((dir_ + "/tree/a/pipe.bin").c_str(), 0600), 0);
  std::string file = Write("single.dat", "named on the command line");

  sim::SmbiosInputSearch search({dir_ + "/tree", file, dir_ + "/empty", dir_ + "/missing"});
  std::vector<std::string> found;
  for (std::string path; search.Next(&path);) found.push_back(path.substr(dir_.size() + 1));
  // pipe.bin is named as a dump: a row that says it is none, not a machine left out.
  std::vector<std::string> expected = {"tree/a/no-name", "tree/a/pipe.bin", "tree/a/sys", "tree/a/x.BIN",
                                       "tree/b.bin", "tree/c/d/e.bin", "single.dat", "empty", "missing"};
  EXPECT_EQ(found, expected);
}

}  // namespace
