// The run records a rollout brings back (the image's -log lines), read from
// their files and joined to the report's machines: by UUID where it tells one machine of
// the fleet from every other, else by serial number and product. Each
// machine gets its latest record and a rollout state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/run_record.h"

namespace fleet {

// Longest line read as a record; the image writes well under this.
constexpr size_t RECORD_LINE_LIMIT = 64 * 1024;
// Largest records file read.
constexpr uint64_t RECORD_FILE_LIMIT = 256ULL << 20;

// Damaged lines named one by one; past these a count stands for the rest.
constexpr size_t RECORD_WARNING_LIMIT = 20;

// The records files of the --records arguments: a file as it is, a folder
// as every *.jsonl file below it (byte order, links to folders followed
// once). False with a one-line reason for an argument that is neither, or
// a folder without records files.
bool ListRecordFiles(const std::vector<std::string> &arguments, std::vector<std::string> *files,
                     std::string *error);

class RecordSet {
 public:
  // Reads one file's lines; a damaged line gets a warning naming the file
  // and the line, and the rest is read. Empty lines are passed over. Lines
  // that name one machine alike (UUID, serial number and product) are kept
  // as their latest, so memory follows the machines, not the lines.
  // Returns the number of records the file held.
  size_t Read(const std::string &name, std::istream &in);
  // Reads a file named by ListRecordFiles, at most RECORD_FILE_LIMIT bytes,
  // line by line; false with a one-line reason when it is no regular file,
  // cannot be read, or holds lines of which none is a run record.
  bool ReadFile(const std::string &path, std::string *error);

  // The latest record of the machine, or null. A UUID that is the
  // machine's alone in the fleet (`uuid_unique`) joins every record that
  // bears it; serial number and product (trailing blanks aside) join the
  // records without a UUID, those of a UUID the fleet shares, and those
  // whose UUID differs from the machine's only in its byte order. The
  // latest is the one written last (RecordInstant); a record without a
  // time never outranks one with a time; among records without times the
  // one read last. Every record found is marked as matched.
  const RolloutRecord *Latest(const FleetRow &row, bool uuid_unique = true);

  const std::vector<RolloutRecord> &Records() const { return records_; }
  // The damaged lines: the first RECORD_WARNING_LIMIT by name, then one
  // line counting the rest.
  std::vector<std::string> Warnings() const;
  // Records no machine has matched so far.
  std::vector<const RolloutRecord *> Unmatched() const;

 private:
  void Index();
  void Keep(RolloutRecord record);

  // The indexes hold a hash of the key and the record's place, and every
  // lookup compares the texts themselves: a few dozen bytes a record, so
  // memory follows the records kept, whatever their texts.
  using Index_ = std::unordered_multimap<uint64_t, size_t>;
  std::vector<RolloutRecord> records_;
  size_t read_ = 0;  // records read, over every file
  Index_ alike_;     // a machine's identity as a record names it
  bool indexed_ = false;
  Index_ by_uuid_;    // lower case
  Index_ by_serial_;  // serial number and product, trailing blanks aside
  std::vector<bool> matched_;
  std::vector<std::string> warnings_;
  size_t damaged_ = 0;
};

// The rollout state of a machine that one kit serves, from its run under
// the kit and its latest record (null: none):
//   "at-target"            the data decides UpdateHWNew.nsh;
//   "started-still-below"  the record started UpdateHWOld.nsh and the data
//                          still decides it;
//   "refused"              the record ran no script and has a message;
//   "not-visited"          no record, and the data decides UpdateHWOld.nsh;
// "" otherwise (no kit, several, or a record that fits none of these).
std::string RolloutState(const FleetRow &row, const RolloutRecord *latest);

// Sets the row's rollout state and record from `records`.
void ApplyRecords(RecordSet *records, FleetRow *row, bool uuid_unique = true);

// The states in the order the report lists them.
extern const char *const ROLLOUT_STATES[4];

}  // namespace fleet
