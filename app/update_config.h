// Reading UpdateConfig.ini: the byte-offset key search, the short values
// after the keys, and the YES/NO rule for "ProductName=".
#pragma once

#include <stdint.h>

#include "app/hardware_ids.h"
#include "libc/stdio.h"

constexpr int CONFIG_VALUE_SIZE = 10;        // 9 bytes and the NUL
constexpr int CONFIG_WHOLE_VALUE_SIZE = 65;  // 64 bytes and the NUL
// ProductName= may list several names ("20L5*|20L6*|20MU*"), so its whole
// value may be longer.
constexpr int CONFIG_WHOLE_PRODUCT_SIZE = 256;  // 255 bytes and the NUL
// HardwareIds= holds up to HARDWARE_ID_LIST_LIMIT bytes; one byte more is
// read to tell a longer list, which the model check refuses.
constexpr int CONFIG_HARDWARE_IDS_SIZE = HARDWARE_ID_LIST_LIMIT + 2;

struct UpdateConfig {
  char ProductName[CONFIG_VALUE_SIZE];
  char Version[CONFIG_VALUE_SIZE];
  // The same occurrences read up to their line end (CR, LF, a NUL or the
  // end of the file; at most 255 bytes of ProductName=, 64 of Version=), for
  // the options that compare whole texts. Empty unless asked for.
  char WholeProductName[CONFIG_WHOLE_PRODUCT_SIZE];
  char WholeVersion[CONFIG_WHOLE_VALUE_SIZE];
  // The model keys, for -product and -kits: whether the file holds
  // ProductName= (a YES/NO flag aside) and HardwareIds=, and the latter's
  // whole value. Read only when asked for.
  bool HasProductName;
  bool HasHardwareIds;
  char HardwareIds[CONFIG_HARDWARE_IDS_SIZE];
};

enum class ConfigResult { Loaded, FileNotFound, VersionNotFound, ReadError };

// FindConfigKey results other than an offset.
constexpr int32_t CONFIG_KEY_NOT_FOUND = -1;
constexpr int32_t CONFIG_READ_ERROR = -2;

// Opens UpdateConfig.ini from the shell's current directory, reads both
// values (and their whole forms when WholeValues is set; the model keys as
// well when ModelKeys is) and closes the file. Prints the run's message on
// failure.
ConfigResult LoadUpdateConfig(UpdateConfig *Config, bool WholeValues = false,
                              bool ModelKeys = false);

// The same reading of a file the caller opened (FileNotFound for a null
// Stream), without a message. The stream is closed.
ConfigResult ReadUpdateConfig(libc::FILE *Stream, UpdateConfig *Config, bool WholeValues,
                              bool ModelKeys = false);

// Offset of the first occurrence of Key (KeyLength bytes) at or after Start,
// with the stream left just past it; CONFIG_KEY_NOT_FOUND when the file ends
// first, CONFIG_READ_ERROR when the file cannot be read.
int32_t FindConfigKey(libc::FILE *Stream, const char *Key, int KeyLength, int32_t Start);

// The raw value at the stream position: up to 9 bytes, through the first LF.
// Empty when the file ends at once; false when the file cannot be read.
bool ReadConfigValue(libc::FILE *Stream, char Raw[CONFIG_VALUE_SIZE]);

// True for a raw value that begins with YES or NO, or is one of the short
// texts "", "Y", "YE", "N".
bool IsFlagValue(const char *Raw);
