// ConsolePrint with arbitrary format text, %a strings and %r values, on the
// simulated firmware's console. The expected text is built here from the
// line-end rules and the directives; what reaches OutputString must be its
// first 320 code units, in one call, NUL-terminated (the firmware copies the
// text up to its NUL out of a pool block that is never zero-filled, so a
// missing NUL runs off the block under AddressSanitizer), and the pool block
// must be released on every path.
//
// Input: byte 0 holds switches (ConOut absent, no pool memory, OutputString
// failing with an error or a warning, either %a argument null), bytes 1-16
// two %r values, then the format as UTF-16 units up to a 0 unit, then two
// 8-bit strings separated by a 0 byte.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/console.h"
#include "sim/firmware.h"

namespace {

constexpr size_t MAX_UNITS = 320;

enum Switch : uint8_t {
  NO_CON_OUT = 1,
  NO_POOL = 2,
  OUTPUT_ERROR = 4,
  OUTPUT_WARNING = 8,
  FIRST_STRING_NULL = 16,
  SECOND_STRING_NULL = 32,
};

// The arguments go in this order; the format's directives are made to match
// it, since a directive that takes the wrong argument type is a caller bug
// no formatter can survive.
const char16_t DIRECTIVE_ORDER[] = {u'a', u'r', u'a', u'r'};
constexpr size_t DIRECTIVES = sizeof(DIRECTIVE_ORDER) / sizeof(DIRECTIVE_ORDER[0]);

struct Input {
  uint8_t switches = 0;
  uint64_t status[2] = {0, 0};
  std::u16string format;
  std::string text[2];
};

Input Decode(const uint8_t *data, size_t size) {
  Input in;
  size_t pos = 0;
  if (pos < size) in.switches = data[pos++];
  for (uint64_t &status : in.status) {
    for (int b = 0; b < 8; ++b) status |= static_cast<uint64_t>(pos < size ? data[pos++] : 0) << (8 * b);
  }
  while (pos + 1 < size) {
    char16_t unit = static_cast<char16_t>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    if (unit == 0) break;
    in.format.push_back(unit);
  }
  std::string rest(reinterpret_cast<const char *>(data) + (pos < size ? pos : size),
                   pos < size ? size - pos : 0);
  size_t nul = rest.find('\0');
  in.text[0] = rest.substr(0, nul);
  if (nul != std::string::npos) in.text[1] = rest.substr(nul + 1);
  in.text[1] = in.text[1].substr(0, in.text[1].find('\0'));
  return in;
}

// Makes the k-th directive of the format the one DIRECTIVE_ORDER expects
// and turns any further directive into ordinary text. Directives are found
// as ConsolePrint finds them: left to right, '%' followed by 'a', 'd', 'r'
// or 's'. The arguments hold no int and no UTF-16 text, so '%d' and '%s'
// always become text (both are checked by the unit tests).
void MatchDirectives(std::u16string *format) {
  size_t seen = 0;
  for (size_t i = 0; i + 1 < format->size(); ++i) {
    char16_t &next = (*format)[i + 1];
    if ((*format)[i] != u'%' ||
        (next != u'a' && next != u'r' && next != u'd' && next != u's')) {
      continue;
    }
    if (next == u'd' || next == u's') {
      next = u'b';
      ++i;
      continue;
    }
    next = seen < DIRECTIVES ? DIRECTIVE_ORDER[seen] : u'b';
    ++seen;
    ++i;
  }
}

std::u16string Widen(const char *text) {
  std::u16string out;
  for (const char *p = text; *p != '\0'; ++p) out.push_back(static_cast<uint8_t>(*p));
  return out;
}

std::u16string StatusText(uint64_t status) {
  bool error = (status >> 63) != 0;
  uint64_t code = status & ~(uint64_t{1} << 63);
  CHAR8 scratch[STATUS_TEXT_SIZE];
  std::string text = StatusToText(status, scratch);
  if ((error && code >= 1 && code <= 33) || (!error && status <= 5)) {
    FUZZ_CHECK(!text.empty() && text.size() < STATUS_TEXT_SIZE, "table row for " + std::to_string(status));
  } else {
    char hex[9];
    std::snprintf(hex, sizeof(hex), "%08X", static_cast<unsigned>(status & 0xFFFFFFFFu));
    FUZZ_CHECK(text == hex, "status " + std::to_string(status) + " printed as " + text);
  }
  return Widen(text.c_str());
}

// The whole text the format produces, before the 320-unit cut.
std::u16string Expand(const std::u16string &format, const char *const strings[2],
                      const uint64_t status[2]) {
  std::u16string out;
  size_t next_string = 0;
  size_t next_status = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char16_t unit = format[i];
    char16_t after = i + 1 < format.size() ? format[i + 1] : u'\0';
    if (unit == u'\n') {
      out += u"\r\n";
      if (after == u'\r') ++i;
    } else if (unit == u'\r') {
      if (after == u'\n') {
        out += u"\r\n";
        ++i;
      } else {
        out += u'\r';
      }
    } else if (unit == u'%' && after == u'a') {
      const char *text = strings[next_string++];
      out += text == nullptr ? u"<null string>" : Widen(text);
      ++i;
    } else if (unit == u'%' && after == u'r') {
      out += StatusText(status[next_status++]);
      ++i;
    } else {
      out += unit;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in = Decode(data, size);
  MatchDirectives(&in.format);

  sim::Firmware fw;
  fw.InstallGlobals();
  if (in.switches & NO_CON_OUT) fw.SystemTable()->ConOut = nullptr;
  if (in.switches & NO_POOL) fw.FailNth(sim::Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES);
  const bool output_fails = (in.switches & (OUTPUT_ERROR | OUTPUT_WARNING)) != 0;
  const bool output_error = (in.switches & OUTPUT_ERROR) != 0;
  if (output_fails) {
    fw.FailNth(sim::Call::OutputString, 1, output_error ? EFI_DEVICE_ERROR : EFI_SUCCESS | 1);
  }

  // Exact-size copies, so reading past an argument's NUL is caught.
  std::vector<std::unique_ptr<char[]>> copies;
  const char *strings[2];
  for (int k = 0; k < 2; ++k) {
    copies.emplace_back(new char[in.text[k].size() + 1]);
    std::memcpy(copies.back().get(), in.text[k].c_str(), in.text[k].size() + 1);
    strings[k] = copies.back().get();
  }
  if (in.switches & FIRST_STRING_NULL) strings[0] = nullptr;
  if (in.switches & SECOND_STRING_NULL) strings[1] = nullptr;
  std::u16string format_copy = in.format;  // c_str() gives the NUL

  UINT64 result = ConsolePrint(reinterpret_cast<const CHAR16 *>(format_copy.c_str()), strings[0],
                               in.status[0], strings[1], in.status[1]);

  std::u16string expected = Expand(in.format, strings, in.status).substr(0, MAX_UNITS);
  // A message that fills the line still ends it when its format does.
  if (expected.size() == MAX_UNITS && !in.format.empty() && in.format.back() == u'\n') {
    expected[MAX_UNITS - 2] = u'\r';
    expected[MAX_UNITS - 1] = u'\n';
  }
  std::vector<std::u16string> lines = fw.ConsoleLines();
  const std::string context = "format " + fuzzcheck::Show(in.format);

  if (in.switches & NO_POOL) {
    FUZZ_CHECK(result == 0 && lines.empty(), context);
  } else if ((in.switches & NO_CON_OUT) || expected.empty()) {
    FUZZ_CHECK(lines.empty(), context);
    FUZZ_CHECK(result == ((in.switches & NO_CON_OUT) ? expected.size() : 0), context);
  } else if (output_fails) {
    // The failing call records nothing; its status decides the count.
    FUZZ_CHECK(lines.empty(), context);
    FUZZ_CHECK(result == (output_error ? 0 : expected.size()), context);
  } else {
    FUZZ_CHECK(lines.size() == 1, context);
    FUZZ_CHECK(lines[0] == expected,
               context + " printed " + fuzzcheck::Show(lines[0]) + ", expected " + fuzzcheck::Show(expected));
    FUZZ_CHECK(result == expected.size(), context);
  }
  FUZZ_CHECK(result <= MAX_UNITS, context);
  FUZZ_CHECK(sim::LeakReport(fw).empty(), sim::LeakReport(fw));
  return 0;
}
