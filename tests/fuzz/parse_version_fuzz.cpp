// ParseVersionNumber on arbitrary bytes, against a second conversion built
// another way: index-based, with a 128-bit accumulator that cannot overflow,
// so the saturation test is a plain comparison with 2^64 - 1 instead of the
// product's division-based guard. The text is copied into a block of exactly
// its size plus the NUL, so a read past the terminator is caught by
// AddressSanitizer.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/version_check.h"
#include "fuzz_check.h"

namespace {

bool IsWhiteSpace(unsigned char c) {
  switch (c) {
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case ' ':
      return true;
    default:
      return false;
  }
}

int32_t ReferenceParse(const std::string &text) {
  size_t i = 0;
  const size_t n = text.size();  // bytes before the first NUL
  auto at = [&](size_t k) -> unsigned char {
    return k < n ? static_cast<unsigned char>(text[k]) : 0;
  };
  while (IsWhiteSpace(at(i))) ++i;
  bool negative = at(i) == '-';
  if (at(i) == '-' || at(i) == '+') ++i;
  while (at(i) == ' ' || at(i) == '\t') ++i;
  while (at(i) == '0') ++i;

  const unsigned __int128 MAX = UINT64_MAX;
  unsigned __int128 value = 0;
  for (; at(i) >= '0' && at(i) <= '9'; ++i) {
    value = value * 10 + (at(i) - '0');
    if (value > MAX) {
      value = MAX;
      break;
    }
  }
  uint64_t low = static_cast<uint64_t>(value) & 0xFFFFFFFFu;
  if (negative) low = (uint64_t{1} << 32) - low;
  low &= 0xFFFFFFFFu;
  // Two's complement reading of the low 32 bits, without a narrowing cast.
  return low >= 0x80000000u ? static_cast<int32_t>(static_cast<int64_t>(low) - (int64_t{1} << 32))
                            : static_cast<int32_t>(low);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size != 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';

  int32_t got = ParseVersionNumber(text.get());
  int32_t want = ReferenceParse(std::string(text.get()));
  FUZZ_CHECK(got == want, "text " + fuzzcheck::Show(std::string(text.get())) + " gave " +
                              std::to_string(got) + ", expected " + std::to_string(want));
  return 0;
}
