// Showing texts from the data: the one place that cuts them and escapes
// their control characters for display, reading their UTF-8 as the image
// reads it.
#include "fleet/shown_text.h"

#include "app/char_class.h"
#include "app/shown_text.h"
#include "platform/utf8.h"

namespace fleet {
namespace {

const unsigned char *Bytes(const std::string &text) {
  return reinterpret_cast<const unsigned char *>(text.data());
}

}  // namespace

std::string ShownText(const std::string &text) {
  const size_t limit = static_cast<size_t>(SHOWN_TEXT_LIMIT);
  if (text.size() <= limit) return text;
  // A character the cut would split is left out whole.
  return text.substr(0, Utf8CutLength(Bytes(text), limit)) + "...";
}

// Control characters (IsControlCharacter) as \xHH, so a string from the
// data cannot move the cursor or recolour the terminal, nor hide on the
// page; bytes that begin no UTF-8 character as one U+FFFD, as the json
// form shows them, so the cell is always UTF-8.
std::string Cell(const std::string &text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string cell;
  for (size_t i = 0; i < text.size();) {
    Utf8Char read = ReadUtf8(Bytes(text) + i, text.size() - i);
    if (read.Length <= 0) {  // a character the text's end cuts short too
      cell += "\xEF\xBF\xBD";
      i += Utf8Taken(read, text.size() - i);
      continue;
    }
    if (IsControlCharacter(read.Code)) {
      cell += "\\x";
      cell += HEX[read.Code >> 4];
      cell += HEX[read.Code & 0xF];
    } else {
      cell.append(text, i, static_cast<size_t>(read.Length));
    }
    i += static_cast<size_t>(read.Length);
  }
  return cell;
}

}  // namespace fleet
