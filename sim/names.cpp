// Text and file-name helpers of the simulated firmware: UTF-16 and UTF-8
// conversions, and the splitting of shell file names into path components
// the way the shell's FAT volumes see them (either separator, "." and "..",
// an optional volume prefix, names compared without regard to case).
#include "sim/internal.h"

#include "platform/utf8.h"

namespace sim {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string ToUtf8(const std::u16string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = REPLACEMENT;
    }
    size_t bytes = Utf8Bytes(c);
    out.resize(out.size() + bytes);
    WriteUtf8(c, bytes, &out[out.size() - bytes]);
  }
  return out;
}

std::u16string ToUtf16(const std::string &text) {
  std::u16string out;
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
  for (size_t i = 0; i < text.size();) {
    Utf8Char read = ReadUtf8(bytes + i, text.size() - i);
    if (read.Length <= 0) {
      // One U+FFFD for the bytes that begin no character, or for the
      // character the text's end cuts short.
      out.push_back(static_cast<char16_t>(REPLACEMENT));
    } else if (read.Code >= 0x10000) {
      out.push_back(static_cast<char16_t>(HighSurrogate(read.Code)));
      out.push_back(static_cast<char16_t>(LowSurrogate(read.Code)));
    } else {
      out.push_back(static_cast<char16_t>(read.Code));
    }
    i += Utf8Taken(read, text.size() - i);
  }
  return out;
}

std::vector<std::string> SplitPath(const std::string &name, const std::vector<std::string> &base) {
  std::string rest = name;
  size_t colon = rest.find(':');
  size_t separator = rest.find_first_of("\\/");
  bool has_volume = colon != std::string::npos && (separator == std::string::npos || colon < separator);
  if (has_volume) rest = rest.substr(colon + 1);
  std::vector<std::string> path;
  if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) path = base;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find_first_of("\\/", start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (!path.empty()) path.pop_back();
    } else if (!part.empty() && part != ".") {
      path.push_back(part);
    }
    start = end + 1;
  }
  return path;
}

bool NamesEqualIgnoringCase(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace sim
