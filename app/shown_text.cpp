// Quoting texts in console messages.
#include "app/shown_text.h"

const char *ShowText(const char *Text, char Shown[SHOWN_TEXT_SIZE]) {
  int n = 0;
  for (; Text[n] != '\0' && n < SHOWN_TEXT_LIMIT; ++n) {
    unsigned char c = static_cast<unsigned char>(Text[n]);
    Shown[n] = c < 0x20 || c == 0x7F ? '?' : Text[n];
  }
  if (Text[n] != '\0') {
    for (int i = 0; i < 3; ++i) Shown[n++] = '.';
  }
  Shown[n] = '\0';
  return Shown;
}
