// Showing texts from the data: the one place that checks their UTF-8, cuts
// them and escapes their control characters for display.
#include "fleet/shown_text.h"

#include "app/shown_text.h"

namespace fleet {

size_t Utf8Length(const std::string &text, size_t at) {
  if (at >= text.size()) return 0;
  unsigned char c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[at + k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string ShownText(const std::string &text) {
  const size_t limit = static_cast<size_t>(SHOWN_TEXT_LIMIT);
  if (text.size() <= limit) return text;
  // A character the cut would split is left out whole.
  size_t cut = limit;
  for (size_t back = 1; back <= 3; ++back) {
    if (Utf8Length(text, limit - back) > back) {
      cut = limit - back;
      break;
    }
  }
  return text.substr(0, cut) + "...";
}

// Control characters (C0, DEL and the C1 range U+0080..U+009F, whose CSI
// and OSC a terminal obeys as it obeys ESC [) as \xHH, so a string from the
// data cannot move the cursor or recolour the terminal, nor hide on the
// page; a byte that begins no UTF-8 character as U+FFFD, as in the json
// and csv forms, so the cell is always UTF-8.
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
    size_t length = Utf8Length(text, i);
    if (length == 0) {
      cell += "\xEF\xBF\xBD";  // U+FFFD, as every form shows a byte that begins no character
      ++i;
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
