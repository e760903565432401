// One run record, as the image's -log writes it on a stick: a line of JSON
// parsed on its own, what it names the machine by, and what it says of the
// run. The rules that tell machines apart by a record's texts (its time,
// its serial number, its UUID) live here too, beside the record they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fleet {

// What a record says of its run: what the report shows of a machine's
// latest record.
struct RecordSummary {
  std::string where;  // FILE:LINE it was read from
  bool has_time = false;
  std::string time;
  bool has_script = false;
  std::string script;
  bool ran = false;
  std::string status;
  bool has_message = false;
  std::string message;
  bool has_kit_sha256 = false;
  std::string kit_sha256;  // the build of the kit the record's run checked
};

struct RolloutRecord {
  size_t order = 0;   // place in reading order over every file
  size_t copies = 1;  // lines naming the same machine alike, this the latest of them
  // What it names the machine by.
  bool has_serial = false;
  std::string serial;
  bool has_product = false;
  std::string product;
  bool has_uuid = false;
  std::string uuid;
  RecordSummary summary;
};

// One line as the image writes it: a JSON object whose `ran` is true or
// false, whose `script` is a text or null, and whose other known keys are
// texts or null. False, with what is wrong, for anything else. `where` is
// left as it is.
bool ParseRecordLine(const std::string &line, RolloutRecord *record, std::string *why);

// Seconds since 1970 of a record's time ("2026-03-01T08:30:15", with "Z"
// or an offset such as "+01:00"; without either it is taken as UTC), for
// ordering records by the instant they were written. False for a text
// that is no such time.
bool RecordInstant(const std::string &time, int64_t *seconds);

// Whether a serial number tells one machine from another: not empty, not
// one character over and over ("00000000"), and none of the texts boards
// ship with before a vendor sets them ("To Be Filled By O.E.M.", "Default
// string", "System Serial Number", ...), case and trailing blanks aside.
// Records never join by such a serial, and two inputs are one machine only
// where theirs is one.
bool SerialTellsMachinesApart(const std::string &serial);

// Whether two UUID texts differ only in the byte order of their first
// three fields: one machine, read once as SMBIOS 2.6 and later order it and
// once as older tables do.
bool SwappedUuids(const std::string &a, const std::string &b);

// The texts that name one machine alike, as keys: a UUID with its case
// aside; a serial number and product with their trailing blanks aside.
std::string UuidKey(const std::string &uuid);
std::string SerialKey(const std::string &serial, const std::string &product);

}  // namespace fleet
