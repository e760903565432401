// Showing texts from the data: the one place that cuts them and escapes
// their control characters for display, reading their UTF-8 as the image
// reads it.
#include "fleet/shown_text.h"

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

// Control characters (C0, DEL and the C1 range U+0080..U+009F, whose CSI
// and OSC a terminal obeys as it obeys ESC [) as \xHH, so a string from the
// data cannot move the cursor or recolour the terminal, nor hide on the
// page; bytes that begin no UTF-8 character as one U+FFFD, as the json
// form shows them, so the cell is always UTF-8.
std::string Cell(const std::string &text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string cell;
  auto escape = [&](unsigned char c) {
    cell += "\\x";
    cell += HEX[c >> 4];
    cell += HEX[c & 0xF];
  };
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int read = ReadUtf8(Bytes(text) + i, text.size() - i).Length;
    size_t length = static_cast<size_t>(read > 0 ? read : read < 0 ? -read : text.size() - i);
    if (read <= 0) {  // a character the text's end cuts short too
      cell += "\xEF\xBF\xBD";
      i += length;
    } else if (c < 0x20 || c == 0x7F) {
      escape(c);
      ++i;
    } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      escape(static_cast<unsigned char>(text[i + 1]));  // U+0080..U+009F
      i += 2;
    } else {
      cell.append(text, i, length);
      i += length;
    }
  }
  return cell;
}

}  // namespace fleet
