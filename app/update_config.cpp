// Reading UpdateConfig.ini. The file is searched as raw bytes, not as
// lines: every byte offset is tried in turn for the key, so a key counts
// wherever its bytes stand (inside a longer key, a comment or a value) and
// the first occurrence wins. A value is at most 9 bytes, up to the line end.
//
// A "ProductName=" occurrence whose value is a YES/NO flag (as on a line
// CheckProductName=YES) is passed over once in favour of the next one.
#include "app/update_config.h"

#include "app/file_names.h"
#include "libc/string.h"
#include "platform/console.h"
#include "platform/natural_align.h"

namespace {

constexpr char PRODUCT_NAME_KEY[] = "ProductName=";
constexpr char VERSION_KEY[] = "Version=";
constexpr char HARDWARE_IDS_KEY[] = "HardwareIds=";
constexpr int PRODUCT_NAME_KEY_LENGTH = sizeof(PRODUCT_NAME_KEY) - 1;
constexpr int VERSION_KEY_LENGTH = sizeof(VERSION_KEY) - 1;
constexpr int LONGEST_KEY = PRODUCT_NAME_KEY_LENGTH;
static_assert(sizeof(HARDWARE_IDS_KEY) - 1 <= LONGEST_KEY, "the key search window holds every key");

// Ends Value at its first CR or LF.
void CutAtLineEnd(char *value) { value[libc::strcspn(value, "\r\n")] = '\0'; }

// True when Text and Word agree as far as the shorter of them goes: Text
// begins with Word, or Text as a whole is a prefix of Word.
bool AgreesWith(const char *text, const char *word) {
  for (; *text != '\0' && *word != '\0'; ++text, ++word) {
    if (*text != *word) return false;
  }
  return true;
}

}  // namespace

int32_t FindConfigKey(libc::FILE *Stream, const char *Key, int KeyLength, int32_t Start) {
  char window[LONGEST_KEY];
  if (KeyLength <= 0 || KeyLength > LONGEST_KEY || Start < 0) return CONFIG_KEY_NOT_FOUND;
  for (int32_t k = Start;; ++k) {
    if (libc::fseek(Stream, k, SEEK_SET) != 0) return CONFIG_READ_ERROR;
    size_t got = libc::fread(window, 1, static_cast<size_t>(KeyLength), Stream);
    if (got < static_cast<size_t>(KeyLength)) {
      // A short window is the end of the file, here and at every later
      // offset, unless the firmware failed the read: a value taken from a
      // file read only in part could select the wrong update.
      return libc::ferror(Stream) ? CONFIG_READ_ERROR : CONFIG_KEY_NOT_FOUND;
    }
    if (libc::memcmp(window, Key, static_cast<size_t>(KeyLength)) == 0) return k;
    if (k == INT32_MAX) return CONFIG_KEY_NOT_FOUND;
  }
}

bool ReadConfigValue(libc::FILE *Stream, char Raw[CONFIG_VALUE_SIZE]) {
  if (libc::fgets(Raw, CONFIG_VALUE_SIZE, Stream) != nullptr) return !libc::ferror(Stream);
  // Nothing read at all (a key whose '=' is the file's last byte) gives an
  // empty value; a failed read gives none.
  Raw[0] = '\0';
  return !libc::ferror(Stream);
}

bool IsFlagValue(const char *Raw) {
  return AgreesWith(Raw, "YES") || AgreesWith(Raw, "NO");
}

namespace {

// Where the chosen occurrences' values begin; -1 for none.
struct ValueOffsets {
  int32_t product_name;
  int32_t version;
};

// Where the value of the first occurrence of Key at or after Start begins,
// with its raw value read into Value (left as it is when there is none);
// otherwise what FindConfigKey found, or CONFIG_READ_ERROR when the value
// cannot be read.
int32_t FindValue(libc::FILE *stream, const char *key, int key_length, int32_t start,
                  char *value) {
  int32_t hit = FindConfigKey(stream, key, key_length, start);
  if (hit < 0) return hit;
  return ReadConfigValue(stream, value) ? hit + key_length : CONFIG_READ_ERROR;
}

// The search of both keys on an open stream, their values read straight
// into *Config; false when the file could not be read.
bool SearchKeys(libc::FILE *stream, UpdateConfig *config, ValueOffsets *offsets) {
  char *raw = config->ProductName;  // empty until a value is read
  int32_t at = FindValue(stream, PRODUCT_NAME_KEY, PRODUCT_NAME_KEY_LENGTH, 0, raw);
  if (at >= 0 && IsFlagValue(raw)) {
    // A first hit at offset 0 is found again and its value read again.
    int32_t hit = at - PRODUCT_NAME_KEY_LENGTH;
    raw[0] = '\0';
    at = FindValue(stream, PRODUCT_NAME_KEY, PRODUCT_NAME_KEY_LENGTH, hit == 0 ? 0 : hit + 1, raw);
  }
  if (at == CONFIG_READ_ERROR) return false;
  offsets->product_name = at;
  CutAtLineEnd(raw);

  at = FindValue(stream, VERSION_KEY, VERSION_KEY_LENGTH, 0, config->Version);
  if (at == CONFIG_READ_ERROR) return false;
  offsets->version = at;
  CutAtLineEnd(config->Version);
  return true;
}

// The value at Offset up to its line end, a NUL or the end of the file, at
// most Size - 1 bytes; empty for no occurrence. False when the file cannot
// be read.
bool ReadWholeValue(libc::FILE *stream, int32_t offset, char *value, size_t size) {
  value[0] = '\0';
  if (offset < 0) return true;
  if (libc::fseek(stream, offset, SEEK_SET) != 0) return false;
  size_t got = libc::fread(value, 1, size - 1, stream);
  if (libc::ferror(stream)) return false;
  value[got] = '\0';
  CutAtLineEnd(value);
  return true;
}

}  // namespace

ConfigResult ReadUpdateConfig(libc::FILE *stream, UpdateConfig *Config, bool WholeValues,
                              bool ModelKeys) {
  Config->HardwareIds[0] = '\0';
  Config->ProductName[0] = '\0';
  Config->Version[0] = '\0';
  Config->WholeProductName[0] = '\0';
  Config->WholeVersion[0] = '\0';
  if (stream == nullptr) return ConfigResult::FileNotFound;
  ValueOffsets offsets = {-1, -1};
  bool readable = SearchKeys(stream, Config, &offsets);
  // The whole values are read only when an option asks for them, and
  // HardwareIds= searched only for the model check, so a run without them
  // reads exactly the bytes it always has.
  int32_t ids = CONFIG_KEY_NOT_FOUND;
  if (readable && ModelKeys) {
    ids = FindConfigKey(stream, HARDWARE_IDS_KEY, sizeof(HARDWARE_IDS_KEY) - 1, 0);
    readable = ids != CONFIG_READ_ERROR;
  }
  Config->HasProductName = offsets.product_name >= 0;
  Config->HasHardwareIds = ids >= 0;
  if (readable && WholeValues) {
    readable = ReadWholeValue(stream, offsets.product_name, Config->WholeProductName,
                              sizeof(Config->WholeProductName)) &&
               ReadWholeValue(stream, offsets.version, Config->WholeVersion,
                              sizeof(Config->WholeVersion)) &&
               ReadWholeValue(stream, ids < 0 ? -1 : ids + int32_t(sizeof(HARDWARE_IDS_KEY) - 1),
                              Config->HardwareIds, sizeof(Config->HardwareIds));
  }
  libc::fclose(stream);

  if (!readable) {
    // A value read in part is no value.
    Config->ProductName[0] = '\0';
    Config->Version[0] = '\0';
    Config->WholeVersion[0] = '\0';
    return ConfigResult::ReadError;
  }
  return offsets.version < 0 ? ConfigResult::VersionNotFound : ConfigResult::Loaded;
}

ConfigResult LoadUpdateConfig(UpdateConfig *Config, bool WholeValues, bool ModelKeys) {
  ConfigResult result =
      ReadUpdateConfig(libc::fopen(UPDATE_CONFIG_NAME, "r"), Config, WholeValues, ModelKeys);
  // The messages in the order of ConfigResult; Loaded has none.
  static const char MESSAGES[] NATURAL_ALIGN(char) =
      "\0"
      UPDATE_CONFIG_NAME " not found\n\0"
      "ERROR: Version= not found in " UPDATE_CONFIG_NAME ".\n\0"
      "ERROR: " UPDATE_CONFIG_NAME " could not be read.\n";
  static_assert(static_cast<int>(ConfigResult::ReadError) == 3, "a message for each result");
  if (result != ConfigResult::Loaded) {
    ConsolePrintAscii(NthText(MESSAGES, static_cast<UINTN>(result)));
  }
  return result;
}
