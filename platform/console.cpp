// Console messages. Every line the application shows goes through
// ConsolePrint: a bounded UTF-16 buffer from the pool, the directives the
// messages use (`%a` for 8-bit text, `%s` for UTF-16 text, `%d` for an int,
// `%r` for a status), CR LF line ends, and one OutputString call on the
// system table's ConOut, read afresh each call.
#include "platform/console.h"

#include <stdarg.h>

#include "platform/globals.h"

CHAR8 *gConsoleLineCopy = nullptr;

namespace {

constexpr size_t kMaxUnits = 320;                          // text, NUL excluded
constexpr size_t kBufferBytes = (kMaxUnits + 1) * sizeof(CHAR16);  // 642
static_assert(kMaxUnits + 1 == CONSOLE_LINE_UNITS, "a copy holds a whole message");

const CHAR8 *const kWarningTexts[] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
};

// Indexed by the error code (the status with bit 63 cleared); row 0 unused.
const CHAR8 *const kErrorTexts[] = {
    nullptr,
    "Load Error",
    "Invalid Parameter",
    "Unsupported",
    "Bad Buffer Size",
    "Buffer Too Small",
    "Not Ready",
    "Device Error",
    "Write Protected",
    "Out of Resources",
    "Volume Corrupt",
    "Volume Full",
    "No Media",
    "Media changed",
    "Not Found",
    "Access Denied",
    "No Response",
    "No mapping",
    "Time out",
    "Not started",
    "Already started",
    "Aborted",
    "ICMP Error",
    "TFTP Error",
    "Protocol Error",
    "Incompatible Version",
    "Security Violation",
    "CRC Error",
    "End of Media",
    "Reserved (29)",
    "Reserved (30)",
    "End of File",
    "Invalid Language",
    "Compromised Data",
};
constexpr UINT64 kLastErrorCode = sizeof(kErrorTexts) / sizeof(kErrorTexts[0]) - 1;
static_assert(kLastErrorCode == 33, "error table covers codes 1 to 33");

// Appends to the output buffer and silently drops whatever would go past
// the 320th code unit, so a long argument can never overrun the block.
struct Output {
  CHAR16 *buffer;
  size_t count;

  void Put(CHAR16 unit) {
    if (count < kMaxUnits) buffer[count++] = unit;
  }
  void PutDecimal(int value) {
    // Widened first, so the lowest int negates without overflow.
    INT64 wide = value;
    if (wide < 0) Put(u'-');
    UINT64 magnitude = static_cast<UINT64>(wide < 0 ? -wide : wide);
    CHAR16 digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<CHAR16>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    while (n > 0) Put(digits[--n]);
  }
  void PutNarrow(const CHAR8 *text) {
    for (; *text != '\0' && count < kMaxUnits; ++text) {
      Put(static_cast<CHAR16>(static_cast<UINT8>(*text)));
    }
  }
};

}  // namespace

const CHAR8 *StatusToText(EFI_STATUS Status, CHAR8 *Scratch) {
  if (EFI_ERROR(Status)) {
    UINT64 code = Status & ~EFI_ERROR_BIT;
    if (code >= 1 && code <= kLastErrorCode) return kErrorTexts[code];
  } else if (Status < sizeof(kWarningTexts) / sizeof(kWarningTexts[0])) {
    return kWarningTexts[Status];
  }
  static const CHAR8 kHex[] = "0123456789ABCDEF";
  UINT32 low = static_cast<UINT32>(Status);
  for (int i = 7; i >= 0; --i) {
    Scratch[i] = kHex[low & 0xF];
    low >>= 4;
  }
  Scratch[8] = '\0';
  return Scratch;
}

namespace {

UINT64 ConsoleVPrint(const CHAR16 *Format, va_list args) {
  void *block = nullptr;
  if (gBS == nullptr || EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, kBufferBytes, &block)) ||
      block == nullptr) {
    return 0;
  }
  Output out = {static_cast<CHAR16 *>(block), 0};

  for (const CHAR16 *p = Format; *p != u'\0' && out.count < kMaxUnits; ++p) {
    if (*p == u'\n') {
      out.Put(u'\r');
      out.Put(u'\n');
      if (p[1] == u'\r') ++p;
    } else if (*p == u'\r') {
      out.Put(u'\r');
      if (p[1] == u'\n') {
        out.Put(u'\n');
        ++p;
      }
    } else if (*p == u'%' && p[1] == u'a') {
      const CHAR8 *text = va_arg(args, const CHAR8 *);
      out.PutNarrow(text != nullptr ? text : "<null string>");
      ++p;
    } else if (*p == u'%' && p[1] == u's') {
      const CHAR16 *text = va_arg(args, const CHAR16 *);
      for (text = text != nullptr ? text : u"<null string>"; *text != 0; ++text) out.Put(*text);
      ++p;
    } else if (*p == u'%' && p[1] == u'd') {
      out.PutDecimal(va_arg(args, int));
      ++p;
    } else if (*p == u'%' && p[1] == u'r') {
      CHAR8 scratch[STATUS_TEXT_SIZE];
      out.PutNarrow(StatusToText(va_arg(args, EFI_STATUS), scratch));
      ++p;
    } else {
      // Any other '%' sequence is printed as it stands.
      out.Put(*p);
    }
  }
  out.buffer[out.count] = u'\0';
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
  gBS->FreePool(block);
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
  // Widened here, once, so the messages the options add cost one byte a
  // character in the image instead of two.
  CHAR16 wide[kMaxUnits + 1];
  size_t n = 0;
  for (; Format[n] != '\0' && n < kMaxUnits; ++n) {
    wide[n] = static_cast<CHAR16>(static_cast<UINT8>(Format[n]));
  }
  wide[n] = u'\0';
  va_list args;
  va_start(args, Format);
  UINT64 result = ConsoleVPrint(wide, args);
  va_end(args);
  return result;
}
