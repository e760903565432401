// Texts from the firmware or UpdateConfig.ini as a console message quotes
// them. Both sources can hold anything: control bytes would move the cursor
// or clear the screen under the message, and a 64 KiB string would push the
// rest of the line out of the console's 320 characters.
#pragma once

constexpr int SHOWN_TEXT_LIMIT = 64;
constexpr int SHOWN_TEXT_SIZE = SHOWN_TEXT_LIMIT + 3 + 1;  // "..." and the NUL

// Copies Text into Shown with bytes below 0x20 and 0x7F as '?', cut after
// 64 bytes with "..." added. Returns Shown.
const char *ShowText(const char *Text, char Shown[SHOWN_TEXT_SIZE]);
