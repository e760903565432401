// The hardware IDs against the reference: Debian's fwupd computes the same
// fifteen IDs from a key file of prepared fields (`fwupdtool hwids FILE`).
// Machines with every field, with fields missing, with text beyond ASCII and
// with the release and enclosure bytes at their edges; each ID must be the
// one the reference prints in its place, or absent where it prints none.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/hardware_ids.h"

namespace {

const char REFERENCE[] = "/usr/bin/fwupdtool";

struct Machine {
  const char *text[HWID_FIELD_COUNT];  // raw texts; null: absent (byte fields unused)
  int bytes[3];                        // major, minor, enclosure; -1: absent
};

const Machine MACHINES[] = {
    {{"Dell Inc.", "Latitude", "Latitude 7490", "0817", "Dell Inc.", "1.21.0", nullptr, nullptr,
      nullptr, "Dell Inc.", "0KP0FT"},
     {0x01, 0x15, 0x0A}},
    {{"  System manufacturer ", "To be filled by O.E.M.", "System Product Name", "SKU",
      "American Megatrends Inc.", "0803", nullptr, nullptr, nullptr, "ASUSTeK COMPUTER INC.",
      "PRIME B450M-A"},
     {0x05, 0x0C, 0x03}},
    {{"HP", nullptr, "HP EliteBook 840 G5", "3JX09EA#ABD", "HP", "Q78 Ver. 01.17.00", nullptr,
      nullptr, nullptr, nullptr, nullptr},
     {0x00, 0x00, -1}},
    {{"Caf\xC3\xA9 Syst\xC3\xA8mes", "S\xC3\xA9rie \xE6\x97\xA5\xE6\x9C\xAC", "Mod\xC3\xA8le 7",
      "", "Caf\xC3\xA9 BIOS", "V1.05 (beta) & more", nullptr, nullptr, nullptr, "Caf\xC3\xA9",
      "B-1"},
     {0xFF, 0xFE, 0x83}},
    {{"QEMU", nullptr, "Standard PC (Q35 + ICH9, 2009)", nullptr, "EFI Development Kit II / OVMF",
      "0.0.0", nullptr, nullptr, nullptr, nullptr, nullptr},
     {0x00, 0x00, 0x01}},
    {{"000Acme", "0", "00", "007", "Acme", "000001.2", nullptr, nullptr, nullptr, "Acme", "0B0"},
     {0x10, 0x01, 0x11}},
};

// The reference's lines for the fifteen IDs: "{id}   <- A + B" or a line
// saying the ID is not available.
std::vector<std::string> ReferenceLines(const std::string &key_file) {
  std::string command = std::string(REFERENCE) + " hwids '" + key_file + "' 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  size_t got;
  while (pipe != nullptr && (got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, got);
  if (pipe != nullptr) pclose(pipe);
  std::vector<std::string> lines;
  size_t start = output.find("Hardware IDs\n------------\n");
  if (start == std::string::npos) return lines;
  start += 26;
  while (lines.size() < HARDWARE_ID_COUNT && start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    lines.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST(HardwareIdReference, FifteenIdsAsTheReferenceComputesThem) {
  if (access(REFERENCE, X_OK) != 0) GTEST_SKIP() << REFERENCE << " is not installed (Debian package fwupd)";
  // A name of this process's own: two suites (host and sanitizer builds)
  // may run this test at the same time.
  std::string key_file = testing::TempDir() + "hwids-reference-" + std::to_string(getpid()) + ".ini";
  for (const Machine &machine : MACHINES) {
    HardwareIdFields fields = {};
    for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
      if (!IsHardwareIdByteField(i)) {
        SetHardwareIdText(&fields, i, machine.text[i]);
      } else if (machine.bytes[i - HWID_BIOS_MAJOR_RELEASE] >= 0) {
        SetHardwareIdByte(&fields, i, static_cast<uint8_t>(machine.bytes[i - HWID_BIOS_MAJOR_RELEASE]));
      }
    }
    SCOPED_TRACE(std::string(fields.Text[0], fields.Length[0]));
    {
      std::ofstream out(key_file);
      out << "[HwIds]\n";
      for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
        if (fields.Text[i] == nullptr) continue;
        out << HardwareIdFieldName(i) << "=" << std::string(fields.Text[i], fields.Length[i]) << "\n";
      }
    }
    HardwareIds ids;
    ComputeHardwareIds(&fields, &ids);
    std::vector<std::string> lines = ReferenceLines(key_file);
    ASSERT_EQ(lines.size(), static_cast<size_t>(HARDWARE_ID_COUNT));
    for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
      SCOPED_TRACE(i);
      char list[HARDWARE_ID_FIELD_LIST_SIZE];
      ListHardwareIdFields(i, list);
      std::string expected = "not available";
      if (ids.Present[i]) {
        char text[HARDWARE_ID_TEXT_SIZE];
        FormatHardwareId(ids.Id[i], text);
        expected = std::string("{") + text + "}   <- " + list;
        for (size_t at; (at = expected.find('&', expected.find("<-"))) != std::string::npos;) {
          expected.replace(at, 1, " + ");
        }
      }
      EXPECT_EQ(lines[i].substr(0, expected.size()), expected);
    }
  }
  unlink(key_file.c_str());
}

}  // namespace
