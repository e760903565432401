// Random texts for the report's text handling tests.
#pragma once

#include <random>
#include <string>

// Random texts weighted toward what breaks text handling: control bytes,
// C1 characters, stray continuation bytes, cut sequences, formula marks.
inline std::string RandomText(std::mt19937 *random) {
  static const std::string PIECES[] = {"a", "1.07", "-", "=", "+", "@", "\t", "\r", "\n", "\x1B[31m",
                                       "\xC2\x9B", "\xC2\x9D", "\xC2\xA0", "\xE9", "\xFF", "\x80",
                                       "\xC3", "\xE2\x82", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\xA0\x80",
                                       "\xC0\xAF", "\xF4\x90\x80\x80", "(", "|", "!", std::string(1, '\0'), "\"", ","};
  std::uniform_int_distribution<size_t> count(0, 12), piece(0, sizeof(PIECES) / sizeof(PIECES[0]) - 1);
  std::string text;
  for (size_t n = count(*random); n > 0; --n) text += PIECES[piece(*random)];
  return text;
}
