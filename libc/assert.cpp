// The failed-assertion report: one line on standard output, then the
// abnormal end, whose stream clean-up pushes the line to the console.
#include "libc/assert.h"

#include "libc/stdio.h"
#include "libc/stdlib.h"

namespace libc {

namespace {

// Decimal text of Value into Text (room for 12 bytes: sign, 10 digits, NUL).
void FormatDecimal(int Value, char *Text) {
  unsigned magnitude = Value < 0 ? 0u - static_cast<unsigned>(Value) : static_cast<unsigned>(Value);
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int at = 0;
  if (Value < 0) Text[at++] = '-';
  while (count > 0) Text[at++] = digits[--count];
  Text[at] = '\0';
}

}  // namespace

void AssertFailed(const char *Condition, const char *File, const char *Function, int Line) {
  char line[12];
  FormatDecimal(Line, line);
  fputs("Assertion failed: (", stdout);
  fputs(Condition, stdout);
  fputs("), file ", stdout);
  fputs(File, stdout);
  if (Function != nullptr) {
    fputs(", function ", stdout);
    fputs(Function, stdout);
  }
  fputs(", line ", stdout);
  fputs(line, stdout);
  fputs(".\n", stdout);
  abort();
}

}  // namespace libc
