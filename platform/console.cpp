// Console messages. Every line the application shows goes through
// ConsolePrint: a bounded UTF-16 buffer from the pool, the directives the
// messages use (`%a` for 8-bit text, `%s` for UTF-16 text, `%d` for an int,
// `%r` for a status), CR LF line ends, and one OutputString call on the
// system table's ConOut, read afresh each call.
#include "platform/console.h"

#include <stdarg.h>

#include "libc/stdlib.h"
#include "platform/globals.h"
#include "platform/natural_align.h"

CHAR8 *gConsoleLineCopy = nullptr;

namespace {

constexpr size_t MAX_UNITS = 320;                          // text, NUL excluded
constexpr size_t BUFFER_BYTES = (MAX_UNITS + 1) * sizeof(CHAR16);  // 642
static_assert(MAX_UNITS + 1 == CONSOLE_LINE_UNITS, "a copy holds a whole message");

// The texts one after the other, each ended by its NUL: one block of
// text, where a table of pointers would cost eight bytes a row.
constexpr CHAR8 WARNING_TEXTS[] NATURAL_ALIGN(CHAR8) =
    "Success\0" "Warning Unknown Glyph\0" "Warning Delete Failure\0" "Warning Write Failure\0"
    "Warning Buffer Too Small\0" "Warning Stale Data";
constexpr UINT64 WARNING_COUNT = 6;

// The error codes' texts (the status with bit 63 cleared) from code 1 on.
constexpr CHAR8 ERROR_TEXTS[] NATURAL_ALIGN(CHAR8) =
    "Load Error\0" "Invalid Parameter\0" "Unsupported\0" "Bad Buffer Size\0"
    "Buffer Too Small\0" "Not Ready\0" "Device Error\0" "Write Protected\0"
    "Out of Resources\0" "Volume Corrupt\0" "Volume Full\0" "No Media\0" "Media changed\0"
    "Not Found\0" "Access Denied\0" "No Response\0" "No mapping\0" "Time out\0" "Not started\0"
    "Already started\0" "Aborted\0" "ICMP Error\0" "TFTP Error\0" "Protocol Error\0"
    "Incompatible Version\0" "Security Violation\0" "CRC Error\0" "End of Media\0"
    "Reserved (29)\0" "Reserved (30)\0" "End of File\0" "Invalid Language\0" "Compromised Data";
constexpr UINT64 LAST_ERROR_CODE = 33;

constexpr UINT64 CountTexts(const CHAR8 *Texts, size_t Size) {
  UINT64 count = 0;
  for (size_t i = 0; i < Size; ++i) count += Texts[i] == '\0' ? 1 : 0;
  return count;
}
static_assert(CountTexts(WARNING_TEXTS, sizeof(WARNING_TEXTS)) == WARNING_COUNT,
              "warning texts cover statuses 0 to 5");
static_assert(CountTexts(ERROR_TEXTS, sizeof(ERROR_TEXTS)) == LAST_ERROR_CODE,
              "error texts cover codes 1 to 33");


template <typename Unit>
struct UnsignedUnitOf {
  typedef Unit Type;
};
template <>
struct UnsignedUnitOf<CHAR8> {
  typedef UINT8 Type;
};
template <typename Unit>
using UnsignedUnit = typename UnsignedUnitOf<Unit>::Type;

// Appends to the output buffer and silently drops whatever would go past
// the 320th code unit, so a long argument can never overrun the block.
struct Output {
  CHAR16 *buffer;
  size_t count;

  void Put(CHAR16 unit) {
    if (count < MAX_UNITS) buffer[count++] = unit;
  }
  // 8-bit text (each byte one unit of the same value) or UTF-16 text.
  void PutText(const void *Text, bool Wide) {
    const UINT8 *narrow = static_cast<const UINT8 *>(Text);
    const CHAR16 *wide = static_cast<const CHAR16 *>(Text);
    for (size_t i = 0; count < MAX_UNITS; ++i) {
      CHAR16 unit = Wide ? wide[i] : narrow[i];
      if (unit == 0) break;
      Put(unit);
    }
  }
};

// The decimal text of Value, written backwards from the end of Scratch (12
// bytes: sign, ten digits and the NUL), so no digit needs reversing.
const CHAR8 *DecimalToText(int Value, CHAR8 *Scratch) {
  // Negated in unsigned arithmetic, so the lowest int has its magnitude.
  UINT32 magnitude = static_cast<UINT32>(Value);
  if (Value < 0) magnitude = 0u - magnitude;
  CHAR8 *at = Scratch + 11;
  *at = '\0';
  do {
    *--at = static_cast<CHAR8>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (Value < 0) *--at = '-';
  return at;
}

}  // namespace

const CHAR8 *NthText(const CHAR8 *Texts, UINTN Skip) {
  for (; Skip > 0; --Skip) {
    while (*Texts++ != '\0') {
    }
  }
  return Texts;
}

const CHAR8 *StatusToText(EFI_STATUS Status, CHAR8 *Scratch) {
  if (EFI_ERROR(Status)) {
    UINT64 code = Status & ~EFI_ERROR_BIT;
    if (code >= 1 && code <= LAST_ERROR_CODE) return NthText(ERROR_TEXTS, code - 1);
  } else if (Status < WARNING_COUNT) {
    return NthText(WARNING_TEXTS, Status);
  }
  UINT32 low = static_cast<UINT32>(Status);
  for (int i = 7; i >= 0; --i) {
    UINT32 digit = low & 0xF;
    Scratch[i] = static_cast<CHAR8>(digit < 10 ? '0' + digit : 'A' - 10 + digit);
    low >>= 4;
  }
  Scratch[8] = '\0';
  return Scratch;
}

namespace {

// The format is read as UTF-16 or as 8-bit text, each unit as its number.
template <typename Unit>
UINT64 ConsoleVPrint(const Unit *Format, va_list args) {
  void *block = AllocateZeroedPool(BUFFER_BYTES);
  if (block == nullptr) return 0;
  Output out = {static_cast<CHAR16 *>(block), 0};

  for (const Unit *p = Format; *p != u'\0' && out.count < MAX_UNITS; ++p) {
    if (*p == u'\n' || *p == u'\r') {
      // LF, CR LF and LF CR each become one CR LF; a lone CR stays alone.
      out.Put(u'\r');
      if (*p == u'\n' || p[1] == u'\n') out.Put(u'\n');
      if (p[1] == (*p ^ (u'\n' ^ u'\r'))) ++p;
    } else if (*p == u'%' && (p[1] == u'a' || p[1] == u's' || p[1] == u'd' || p[1] == u'r')) {
      // Every directive comes down to a text: the argument's own, or the
      // number or status written as one.
      CHAR8 scratch[STATUS_TEXT_SIZE];
      const void *text;
      bool wide = false;
      if (p[1] == u'd') {
        text = DecimalToText(va_arg(args, int), scratch);
      } else if (p[1] == u'r') {
        text = StatusToText(va_arg(args, EFI_STATUS), scratch);
      } else {
        text = va_arg(args, const void *);
        wide = p[1] == u's';
        if (text == nullptr) {
          text = "<null string>";
          wide = false;
        }
      }
      out.PutText(text, wide);
      ++p;
    } else {
      // Any other '%' sequence is printed as it stands.
      out.Put(static_cast<CHAR16>(static_cast<UnsignedUnit<Unit>>(*p)));
    }
  }
  // A message cut at the bound still ends its line, so what follows on the
  // console starts a line of its own.
  if (out.count == MAX_UNITS) {
    const Unit *end = Format;
    while (*end != u'\0') ++end;
    if (end != Format && end[-1] == u'\n') {
      out.buffer[MAX_UNITS - 2] = u'\r';
      out.buffer[MAX_UNITS - 1] = u'\n';
    }
  }
  // The block came zeroed and holds one unit more than a message: the text
  // already ends with its NUL.
  if (gConsoleLineCopy != nullptr) {
    size_t i = 0;
    for (; i < out.count && out.buffer[i] != u'\r' && out.buffer[i] != u'\n'; ++i) {
      gConsoleLineCopy[i] = out.buffer[i] <= 0xFF ? static_cast<CHAR8>(out.buffer[i]) : '?';
    }
    gConsoleLineCopy[i] = '\0';
  }

  UINT64 result = out.count;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con_out = gST != nullptr ? gST->ConOut : nullptr;
  if (con_out != nullptr && out.count > 0) {
    if (EFI_ERROR(con_out->OutputString(con_out, out.buffer))) result = 0;
  }
  libc::free(block);
  return result;
}

}  // namespace

UINT64 ConsolePrint(const CHAR16 *Format, ...) {
  va_list args;
  va_start(args, Format);
  UINT64 result = ConsoleVPrint(Format, args);
  va_end(args);
  return result;
}

UINT64 ConsolePrintAscii(const CHAR8 *Format, ...) {
  // Each byte of the format is a character of its own, so the messages the
  // options add cost one byte a character in the image instead of two.
  va_list args;
  va_start(args, Format);
  UINT64 result = ConsoleVPrint(Format, args);
  va_end(args);
  return result;
}
