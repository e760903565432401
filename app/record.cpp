// The run record. Each line is built whole in one pool block and handed to
// the file layer in one write, so a failed write or a reset can cut at most
// the line being written, never an earlier one; the file layer starts a
// line of its own after such a cut. A record that cannot be written gets a
// note and the run goes on: a record never stops an update.
//
// The texts come from firmware and from the kit, and may hold any byte:
// each is escaped so the line is valid JSON, and a byte that is not part
// of valid UTF-8 keeps its value as \u00XX (the Latin-1 reading, which is
// what older firmware strings usually are) rather than becoming U+FFFD.
#include "app/record.h"

#include "app/explain.h"
#include "app/file_names.h"
#include "app/sha256.h"
#include "app/shown_text.h"
#include "app/smbios_facts.h"
#include "libc/stdlib.h"
#include "libc/string.h"
#include "platform/console.h"
#include "platform/natural_align.h"
#include "platform/record_file.h"
#include "platform/utf8.h"
#include "smbios/entry_point.h"
#include "smbios/structure_table.h"

namespace {

// Room for every key, every text at its limit fully escaped, and the
// console line quoted as the message.
constexpr size_t LINE_SIZE = 32 * 1024;
// The two scripts differ from their ninth character on: the run hands over
// the one it chose, and one unit of it says which.
constexpr int SCRIPT_DIFFERS_AT = 8;
static_assert(UPDATE_SCRIPT_OLD_NAME[SCRIPT_DIFFERS_AT] !=
                  UPDATE_SCRIPT_NEW_NAME[SCRIPT_DIFFERS_AT],
              "one character tells the scripts apart");

// Copies Text, without its NUL, to At; returns the end of the copy.
char *PutText(char *At, const char *Text) {
  while (*Text != '\0') *At++ = *Text++;
  return At;
}

struct RecordState {
  bool Active;
  const RunOptions *Options;
  SmbiosWalk Walk;
  // Found before the run's own walk: a walk cannot run inside another.
  FirstStructures First;
  const UpdateConfig *Config;
  bool Undecided;  // a structure could not be decided: the run ends with 1
  unsigned Lines;  // records attempted
  char Message[CONSOLE_LINE_UNITS];
  char Kit[RECORD_TEXT_LIMIT + 1];  // -kits: the folder chosen, as UTF-8
  char KitSha256[SHA256_HEX_SIZE];  // -verify: the kit's identity
  char HardwareId[HARDWARE_ID_TEXT_SIZE];  // the ID that chose the kit, or ""
};
RecordState gRecord;

char *PutEscape(char *At, unsigned Byte) {
  // Four bytes of a known size: the compiler stores them in place.
  __builtin_memcpy(At, "\\u00", 4);
  At[4] = HEX_DIGITS[Byte >> 4];
  At[5] = HEX_DIGITS[Byte & 0xF];
  return At + 6;
}

// The keys of a line, in order.
enum Field {
  KEY_TIME, KEY_MANUFACTURER, KEY_PRODUCT, KEY_SERIAL, KEY_SKU, KEY_FAMILY, KEY_UUID,
  KEY_BASEBOARD, KEY_BIOS_VENDOR, KEY_BIOS_VERSION, KEY_BIOS_DATE, KEY_KIT, KEY_KIT_SHA256,
  KEY_HARDWARE_ID, KEY_PRODUCT_NAME, KEY_VERSION, KEY_OPTIONS, KEY_SCRIPT, KEY_RAN, KEY_STATUS,
  KEY_MESSAGE, KEY_FIELD_COUNT
};
const char KEYS[] NATURAL_ALIGN(char) =
    "time\0manufacturer\0product\0serial\0sku\0family\0uuid\0baseboard\0bios_vendor\0"
    "bios_version\0bios_date\0kit\0kit_sha256\0hardware_id\0product_name\0version\0options\0"
    "script\0ran\0status\0message";

// Keys whose value is JSON already, written as it stands.
constexpr unsigned JSON_KEYS = 1u << KEY_TIME | 1u << KEY_BASEBOARD | 1u << KEY_RAN;

// What a line holds before it is written out: for each key a text to
// quote, or null; for JSON_KEYS the JSON itself.
struct LineValues {
  const char *Text[KEY_FIELD_COUNT];
  char TimeText[32];
  char Uuid[UUID_TEXT_SIZE];
  char Options[96];
  // {"manufacturer":...,"product":...}, each text at its limit escaped.
  char Baseboard[2 * JSON_TEXT_SIZE + 40];
};

// Writes Value's last Count digits so that the last lands before End.
void PutDigits(char *End, unsigned Value, int Count) {
  while (Count-- > 0) {
    *--End = static_cast<char>('0' + Value % 10);
    Value /= 10;
  }
}

// "YYYY-MM-DDTHH:MM:SS" and the zone, quoted, or null when the clock cannot
// be read or reads nonsense.
const char *FormatTime(char Out[32]) {
  EFI_TIME t;
  if (!ReadFirmwareClock(&t) || t.Year > 9999) return "null";
  char *at = PutText(Out, "\"0000-00-00T00:00:00");
  PutDigits(Out + 5, t.Year, 4);
  // Month, day, hour, minute and second: consecutive bytes of EFI_TIME,
  // each checked against its range as it is written. Month and day count
  // from 1, the others from 0.
  static_assert(offsetof(EFI_TIME, Second) == offsetof(EFI_TIME, Month) + 4, "EFI_TIME layout");
  static const uint8_t SPANS[5] NATURAL_ALIGN(uint8_t) = {11, 30, 23, 59, 59};
  const uint8_t *field = reinterpret_cast<const uint8_t *>(&t) + offsetof(EFI_TIME, Month);
  for (int i = 0; i < 5; ++i) {
    if (field[i] - (i < 2 ? 1u : 0u) > SPANS[i]) return "null";
    PutDigits(Out + 8 + 3 * i, field[i], 2);
  }
  // Local time = UTC + TimeZone, an hour more while daylight saving time
  // is in effect; a clock that keeps no zone gets no suffix.
  int offset = t.TimeZone + ((t.Daylight & 0x02) != 0 ? 60 : 0);
  bool zoned = t.TimeZone >= -1440 && t.TimeZone <= 1440;
  if (zoned && offset == 0) {
    *at++ = 'Z';
  } else if (zoned) {
    unsigned minutes = static_cast<unsigned>(offset < 0 ? -offset : offset);
    at[0] = offset < 0 ? '-' : '+';
    PutDigits(at + 3, minutes / 60, 2);
    at[3] = ':';
    PutDigits(at + 6, minutes % 60, 2);
    at += 6;
  }
  *at++ = '"';
  *at = '\0';
  return Out;
}

// A JSON text or null.
char *PutJsonText(char *At, const char *Text) {
  if (Text != nullptr) return At + QuoteJsonText(Text, At);
  __builtin_memcpy(At, "null", 4);  // stored in place, as PutEscape's head
  return At + 4;
}

void FillSystem(LineValues *v) {
  SmbiosStructurePointer board = gRecord.First.Of[SMBIOS_TYPE_BASEBOARD_INFORMATION];
  v->Text[KEY_BASEBOARD] = "null";
  if (board.Raw != nullptr) {
    v->Text[KEY_BASEBOARD] = v->Baseboard;
    char *at = PutText(v->Baseboard, "{\"manufacturer\":");
    at = PutJsonText(at, GetSmbiosFieldString(board, BASEBOARD_MANUFACTURER_FIELD));
    at = PutText(at, ",\"product\":");
    at = PutJsonText(at, GetSmbiosFieldString(board, BASEBOARD_PRODUCT_FIELD));
    at[0] = '}';
    at[1] = '\0';
  }
  SmbiosStructurePointer s = gRecord.First.Of[SMBIOS_TYPE_SYSTEM_INFORMATION];
  if (s.Raw == nullptr) return;
  // The fields of the keys from KEY_MANUFACTURER to KEY_FAMILY, in order.
  static const uint8_t FIELDS[] = {SYSTEM_MANUFACTURER_FIELD, SYSTEM_PRODUCT_FIELD,
                                   SYSTEM_SERIAL_FIELD, SYSTEM_SKU_FIELD, SYSTEM_FAMILY_FIELD};
  static_assert(KEY_FAMILY - KEY_MANUFACTURER + 1 == sizeof(FIELDS), "a field for each key");
  for (int i = 0; i < KEY_FAMILY - KEY_MANUFACTURER + 1; ++i) {
    v->Text[KEY_MANUFACTURER + i] = GetSmbiosFieldString(s, FIELDS[i]);
  }
  if (s.Hdr->Length >= SYSTEM_UUID_OFFSET + 16 &&
      FormatSmbiosUuid(s.Raw + SYSTEM_UUID_OFFSET, SmbiosUuidLittleEndian(), v->Uuid)) {
    v->Text[KEY_UUID] = v->Uuid;
  }
}

void FillBios(LineValues *v, SmbiosStructurePointer Bios) {
  if (Bios.Raw == nullptr) return;
  v->Text[KEY_BIOS_VENDOR] = GetSmbiosFieldString(Bios, BIOS_VENDOR_FIELD);
  // The string the decision read.
  v->Text[KEY_BIOS_VERSION] = InstalledVersionFor(Bios, gRecord.Options->Segments);
  v->Text[KEY_BIOS_DATE] = GetSmbiosFieldString(Bios, BIOS_DATE_FIELD);
}

void FillOptions(LineValues *v) {
  // The flags in the order of the options' table.
  char *at = v->Options;
  for (int i = 0; i < OPTION_WORD_COUNT; ++i) {
    if (!OptionSet(gRecord.Options, i)) continue;
    at = PutText(at, RunOptionName(i));
    *at++ = ' ';
  }
  *PutText(at, RunOptionName(OPTION_LOG)) = '\0';
  v->Text[KEY_OPTIONS] = v->Options;
  if (gRecord.Kit[0] != '\0') v->Text[KEY_KIT] = gRecord.Kit;
  if (gRecord.KitSha256[0] != '\0') v->Text[KEY_KIT_SHA256] = gRecord.KitSha256;
  if (gRecord.HardwareId[0] != '\0') v->Text[KEY_HARDWARE_ID] = gRecord.HardwareId;
}

// Writes the line, an LF first for the file layer to use or skip, into
// Out, which holds LINE_SIZE bytes. Returns its length.
size_t BuildLine(const LineValues *v, char *Out) {
  char *at = Out;
  *at++ = '\n';
  const char *key = KEYS;
  for (int i = 0; i < KEY_FIELD_COUNT; ++i) {
    *at++ = i == 0 ? '{' : ',';
    *at++ = '"';
    at = PutText(at, key);
    while (*key++ != '\0') {
    }
    *at++ = '"';
    *at++ = ':';
    at = (JSON_KEYS >> i & 1) != 0 ? PutText(at, v->Text[i]) : PutJsonText(at, v->Text[i]);
  }
  *at++ = '}';
  *at++ = '\n';
  return static_cast<size_t>(at - Out);
}

void NoteNotWritten(const char *Reason, const char *Step = nullptr) {
  PrintShown("Note: no record written to %a: %a%a.\n", gRecord.Options->Log, Reason, Step);
}

void WriteRecord(SmbiosStructurePointer Bios, const CHAR16 *Script, bool Ran, int ExitStatus) {
  ++gRecord.Lines;
  if (gRecord.Options->Log[0] == '\0') {
    NoteNotWritten("no file name after -log");
    return;
  }
  LineValues *v = static_cast<LineValues *>(libc::calloc(1, sizeof(LineValues) + LINE_SIZE));
  if (v == nullptr) {
    NoteNotWritten("Out of Resources");
    return;
  }
  char *line = reinterpret_cast<char *>(v + 1);
  v->Text[KEY_TIME] = FormatTime(v->TimeText);
  FillSystem(v);
  FillBios(v, Bios);
  if (gRecord.Config != nullptr) {
    v->Text[KEY_PRODUCT_NAME] = gRecord.Config->WholeProductName;
    v->Text[KEY_VERSION] = gRecord.Config->WholeVersion;
  }
  FillOptions(v);
  // What the shell's %lasterror% shows for main's 0 and 1 (EFI_ABORTED).
  v->Text[KEY_STATUS] = ExitStatus == 0 ? "0x0" : "0x15";
  v->Text[KEY_RAN] = Ran ? "true" : "false";
  if (Script != nullptr) {
    v->Text[KEY_SCRIPT] = Script[SCRIPT_DIFFERS_AT] == UPDATE_SCRIPT_OLD_NAME[SCRIPT_DIFFERS_AT]
                              ? UPDATE_SCRIPT_OLD_NAME
                              : UPDATE_SCRIPT_NEW_NAME;
  } else if (gRecord.Message[0] != '\0') {
    v->Text[KEY_MESSAGE] = gRecord.Message;
  }
  size_t length = BuildLine(v, line);
  gRecord.Message[0] = '\0';

  // The argument came from UTF-16 without surrogates: well-formed UTF-8 of
  // at most three bytes a character and at most 255 bytes.
  CHAR16 name[RECORD_TEXT_LIMIT + 1];
  Utf8ToUtf16(gRecord.Options->Log, name, RECORD_TEXT_LIMIT);
  AppendStep step = AppendStep::Open;
  EFI_STATUS status = AppendLineToFile(name, line, length, &step);
  libc::free(v);
  if (!EFI_ERROR(status)) return;
  // The steps of AppendStep, in order.
  static const char STEPS[] NATURAL_ALIGN(char) =
      " (open)\0 (position)\0 (write)\0 (flush)\0 (close)";
  CHAR8 scratch[STATUS_TEXT_SIZE];
  NoteNotWritten(StatusToText(status, scratch), NthText(STEPS, static_cast<UINTN>(step)));
}

}  // namespace

// SMBIOS 2.6 changed the UUID's first three fields to little-endian.
bool SmbiosUuidLittleEndian() {
  if (gSmbios3EntryPoint != nullptr || gSmbiosEntryPoint == nullptr) return true;
  return (gSmbiosEntryPoint->MajorVersion << 8 | gSmbiosEntryPoint->MinorVersion) >= 0x206;
}

int QuoteJsonText(const char *Text, char Out[JSON_TEXT_SIZE]) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(Text);
  char *at = Out;
  *at++ = '"';
  int left = 0;
  while (left < RECORD_TEXT_LIMIT && p[left] != 0) ++left;
  // A cut inside a character leaves it out whole, not kept as stray bytes
  // that read as other characters. (Only a cut at the limit can: a shorter
  // text ends at its NUL.)
  left = static_cast<int>(Utf8CutLength(p, static_cast<size_t>(left)));
  while (left > 0) {
    int length = ReadUtf8(p, static_cast<size_t>(left)).Length;
    if (length > 1) {
      for (int i = 0; i < length; ++i) *at++ = static_cast<char>(p[i]);
    } else {
      unsigned c = *p;
      if (length <= 0 || c < 0x20 || c == 0x7F) {
        at = PutEscape(at, c);
      } else {
        if (c == '"' || c == '\\') *at++ = '\\';
        *at++ = static_cast<char>(c);
      }
      length = 1;
    }
    p += length;
    left -= length;
  }
  *at++ = '"';
  *at = '\0';
  return static_cast<int>(at - Out);
}

void BeginRunRecord(const RunOptions *Options, SmbiosWalk Walk) {
  gRecord = RecordState{};
  gRecord.Active = Options->Log != nullptr;
  gRecord.Options = Options;
  gRecord.Walk = Walk;
  gConsoleLineCopy = gRecord.Active ? gRecord.Message : nullptr;
}

void RecordTableFound(uint16_t DeclaredCount) {
  if (gRecord.Active) FindFirstStructures(gRecord.Walk, DeclaredCount, &gRecord.First);
}

void RecordConfig(const UpdateConfig *Config) { gRecord.Config = Config; }

void RecordKit(const char16_t *Folder) {
  if (!gRecord.Active) return;
  // UTF-8 of the folder's name, whole characters only.
  gRecord.Kit[Utf16ToUtf8(Folder, gRecord.Kit, RECORD_TEXT_LIMIT, false)] = '\0';
}

void RecordKitIdentity(const char *Hex) {
  if (gRecord.Active) libc::memcpy(gRecord.KitSha256, Hex, SHA256_HEX_SIZE);
}

void RecordHardwareId(const uint8_t Id[16]) {
  if (gRecord.Active) FormatHardwareId(Id, gRecord.HardwareId);
}

void ForgetRecordMessage() { gRecord.Message[0] = 0; }

void RecordDecision(SmbiosStructurePointer Bios, const char16_t *Script, bool Ran) {
  if (!gRecord.Active) return;
  if (Script == nullptr) gRecord.Undecided = true;
  WriteRecord(Bios, Script, Ran, gRecord.Undecided ? 1 : 0);
}

int EndRunRecord(int ExitStatus) {
  if (gRecord.Active && gRecord.Lines == 0) {
    WriteRecord(SmbiosStructurePointer{nullptr}, nullptr, false, ExitStatus);
  }
  gConsoleLineCopy = nullptr;
  gRecord.Active = false;
  return ExitStatus;
}
