// The run records a rollout brings back (the image's -log lines), read and
// joined to the report's machines: by UUID, else by serial number and
// product. Each machine gets its latest record and a rollout state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fleet/fleet_row.h"

namespace fleet {

// Longest line read as a record; the image writes well under this.
constexpr size_t RECORD_LINE_LIMIT = 64 * 1024;
// Largest records file read.
constexpr uint64_t RECORD_FILE_LIMIT = 256ULL << 20;

struct RolloutRecord {
  std::string file;
  size_t line = 0;
  bool has_time = false;
  std::string time;
  bool has_serial = false;
  std::string serial;
  bool has_product = false;
  std::string product;
  bool has_uuid = false;
  std::string uuid;
  bool has_script = false;
  std::string script;
  bool ran = false;
  std::string status;
  bool has_message = false;
  std::string message;
};

// One line as the image writes it: a JSON object whose `ran` is true or
// false, whose `script` is a text or null, and whose other known keys are
// texts or null. False, with what is wrong, for anything else.
bool ParseRecordLine(const std::string &line, RolloutRecord *record, std::string *why);

// The records files of the --records arguments: a file as it is, a folder
// as every *.jsonl file below it (byte order, links to folders followed
// once). False with a one-line reason for an argument that is neither, or
// a folder without records files.
bool ListRecordFiles(const std::vector<std::string> &arguments, std::vector<std::string> *files,
                     std::string *error);

class RecordSet {
 public:
  // Reads one file's lines; a damaged line gets a warning naming the file
  // and the line, and the rest is read. Empty lines are passed over.
  void Read(const std::string &name, std::istream &in);
  // Reads a file named by ListRecordFiles; false with a one-line reason
  // when it is no regular file or cannot be read.
  bool ReadFile(const std::string &path, std::string *error);

  // The latest record of the machine, or null: records whose UUID is the
  // machine's, or (where the record or the machine has no UUID) whose
  // serial number and product are the machine's, trailing blanks aside.
  // The latest is the one with the latest time, or read last among those
  // without comparable times. Every record found is marked as matched.
  const RolloutRecord *Latest(const FleetRow &row);

  const std::vector<RolloutRecord> &Records() const { return records_; }
  const std::vector<std::string> &Warnings() const { return warnings_; }
  // Records no machine has matched so far.
  std::vector<const RolloutRecord *> Unmatched() const;

 private:
  void Index();

  std::vector<RolloutRecord> records_;
  bool indexed_ = false;
  std::map<std::string, std::vector<size_t>> by_uuid_;  // lower case
  std::map<std::pair<std::string, std::string>, std::vector<size_t>> by_serial_;
  std::vector<bool> matched_;
  std::vector<std::string> warnings_;
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
void ApplyRecords(RecordSet *records, FleetRow *row);

// The states in the order the report lists them.
extern const char *const ROLLOUT_STATES[4];

}  // namespace fleet
