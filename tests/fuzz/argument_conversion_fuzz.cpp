// The run-time environment's argument conversion on arbitrary UTF-16
// argument vectors: any count (beyond the 64-entry vector too), lone
// surrogates, null arguments, lengths around the 255-byte limit.
//
// Input: UTF-16 units, little-endian; each 0 unit ends an argument, and an
// argument made of the single unit U+FFFF is passed as a null pointer. The
// vector and every argument are given in blocks of exactly their size, so
// reading past Argc entries or past an argument's NUL is caught.
//
// `main` here checks what it receives against a conversion written in this
// file: argc is the count, or 63 when more than 64 arguments are given; each
// argument is the UTF-8 form of its measured prefix (1, 2 or 3 bytes a
// unit, stopping at the NUL, at a surrogate, or before the 256th byte), so
// at most 255 bytes, valid UTF-8 and NUL-terminated; argv[argc] is null.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/entry.h"
#include "sim/firmware.h"

namespace {

constexpr char16_t NULL_ARGUMENT = 0xFFFF;
constexpr size_t VECTOR_ENTRIES = 64;

std::string ExpectedUtf8(const char16_t *arg) {
  std::string out;
  if (arg == nullptr) return out;
  for (const char16_t *p = arg; *p != 0; ++p) {
    unsigned u = *p;
    if (u >= 0xD800 && u <= 0xDFFF) break;
    size_t bytes = u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    if (out.size() + bytes > MAX_ARGUMENT_BYTES) break;
    if (bytes == 1) {
      out += static_cast<char>(u);
    } else if (bytes == 2) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// Well-formed UTF-8 of BMP characters other than surrogates: the only
// characters the conversion can produce.
bool IsValidUtf8(const std::string &text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : 9;
    if (extra == 9 || i + extra >= text.size()) return false;
    unsigned value = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : (lead & 0x0F);
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if ((extra == 1 && value < 0x80) || (extra == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF)))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

struct Expectation {
  size_t argc = 0;
  std::vector<std::string> args;
  bool called = false;
};
Expectation gExpect;

int CheckingMain(int argc, char **argv) {
  gExpect.called = true;
  const size_t given = gExpect.args.size();
  FUZZ_CHECK(argv != nullptr, "no vector");
  if (given == VECTOR_ENTRIES) {
    // All 64 entries filled would leave no room for the null after them.
    FUZZ_CHECK(argc == 63 || argc == 64, "argc " + std::to_string(argc) + " for 64 arguments");
  } else {
    FUZZ_CHECK(static_cast<size_t>(argc) == gExpect.argc,
               "argc " + std::to_string(argc) + " for " + std::to_string(given) + " arguments");
  }
  FUZZ_CHECK(argv[argc] == nullptr, "argv[" + std::to_string(argc) + "] is not null");
  for (int i = 0; i < argc; ++i) {
    FUZZ_CHECK(argv[i] != nullptr, "argv[" + std::to_string(i) + "] is null");
    size_t length = std::strlen(argv[i]);
    std::string got(argv[i], length);
    FUZZ_CHECK(length <= MAX_ARGUMENT_BYTES, "argument " + std::to_string(i) + " has " +
                                                std::to_string(length) + " bytes");
    FUZZ_CHECK(IsValidUtf8(got), "argument " + std::to_string(i) + " " + fuzzcheck::Show(got));
    FUZZ_CHECK(got == gExpect.args[static_cast<size_t>(i)],
               "argument " + std::to_string(i) + " " + fuzzcheck::Show(got) + ", expected " +
                   fuzzcheck::Show(gExpect.args[static_cast<size_t>(i)]));
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Split into arguments at every 0 unit; a trailing piece without its 0
  // unit is an argument too.
  std::vector<std::u16string> pieces(1);
  for (size_t i = 0; i + 1 < size; i += 2) {
    char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(unit);
    }
  }
  if (pieces.back().empty()) pieces.pop_back();

  const size_t count = pieces.size();
  std::vector<std::unique_ptr<char16_t[]>> storage;
  std::unique_ptr<CHAR16 *[]> argv(new CHAR16 *[count == 0 ? 1 : count]);
  gExpect = Expectation();
  for (size_t i = 0; i < count; ++i) {
    if (pieces[i] == std::u16string(1, NULL_ARGUMENT)) {
      argv[i] = nullptr;
    } else {
      storage.emplace_back(new char16_t[pieces[i].size() + 1]);
      std::memcpy(storage.back().get(), pieces[i].c_str(), (pieces[i].size() + 1) * sizeof(char16_t));
      argv[i] = storage.back().get();
    }
    gExpect.args.push_back(ExpectedUtf8(argv[i]));
  }
  gExpect.argc = count > VECTOR_ENTRIES ? VECTOR_ENTRIES - 1 : count;

  sim::Firmware fw;
  fw.InstallGlobals();
  EFI_STATUS status = RunApplication(count, argv.get(), CheckingMain);
  FUZZ_CHECK(gExpect.called, "main was not called");
  FUZZ_CHECK(status == EFI_SUCCESS, "status " + std::to_string(status));
  FUZZ_CHECK(sim::LeakReport(fw).empty(), sim::LeakReport(fw));
  return 0;
}
