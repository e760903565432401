// What every fuzz target shares: a check that stops the run with a message
// when an expectation fails. abort() is what libFuzzer treats as a crash, so
// the input that broke the expectation is kept as an artifact and can be
// replayed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzcheck {

[[noreturn]] inline void Fail(const char *file, int line, const char *condition,
                              const std::string &detail) {
  std::fprintf(stderr, "\n%s:%d: expectation failed: %s\n", file, line, condition);
  if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
  std::abort();
}

// Printable form of bytes or UTF-16 units for failure messages.
template <typename Text>
std::string Show(const Text &text) {
  std::string out = "\"";
  for (auto unit : text) {
    unsigned value = static_cast<unsigned>(unit) & (sizeof(unit) == 1 ? 0xFFu : 0xFFFFu);
    if (value >= 0x20 && value < 0x7F && value != '"' && value != '\\') {
      out += static_cast<char>(value);
    } else {
      char hex[12];
      std::snprintf(hex, sizeof(hex), "\\x{%X}", value);
      out += hex;
    }
  }
  return out + "\"";
}

}  // namespace fuzzcheck

#define FUZZ_CHECK(condition, detail)                                               \
  do {                                                                              \
    if (!(condition)) fuzzcheck::Fail(__FILE__, __LINE__, #condition, (detail));    \
  } while (0)
