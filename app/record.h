// The run record (-log FILE): a JSON line for each decision, appended to
// FILE before the chosen script starts, and one line for a run that ends
// without a decision. The run tells the record what it learns as it goes;
// without -log every one of these calls returns at once and the run makes
// exactly the firmware calls it makes without a record.
#pragma once

#include <stdint.h>

#include "app/options.h"
#include "app/shown_text.h"
#include "app/update_config.h"
#include "smbios/structure_walk.h"

void BeginRunRecord(const RunOptions *Options, SmbiosWalk Walk);
// The structure table was found and holds at most DeclaredCount
// structures; called before the run walks it.
void RecordTableFound(uint16_t DeclaredCount);
void RecordConfig(const UpdateConfig *Config);
// -kits: the kit folder the run went on in.
void RecordKit(const char16_t *Folder);
// -verify: the kit's identity, the SHA-256 of its SHA256SUMS in hex.
void RecordKitIdentity(const char *Hex);
// The hardware ID that chose the kit (-kits) or passed -product.
void RecordHardwareId(const uint8_t Id[16]);
// What the console said so far is not the run's error line.
void ForgetRecordMessage();
// One BIOS Information structure decided on: Script is the script chosen,
// or null when none could be (the console's last line is then the
// message); Ran tells whether it is about to be run.
void RecordDecision(SmbiosStructurePointer Bios, const char16_t *Script, bool Ran);
// The end of the run with main's ExitStatus, which it returns: a run that
// recorded no decision leaves its one line here.
int EndRunRecord(int ExitStatus);

// Bytes of a text from SMBIOS or the kit that a record keeps.
constexpr int RECORD_TEXT_LIMIT = 255;

// Whether the located entry point (3.x, or 2.x of version 2.6 or later)
// makes the UUID's first three fields little-endian.
bool SmbiosUuidLittleEndian();

// Writes Text as a JSON string (quotes included) into Out, which holds
// RECORD_TEXT_LIMIT * 6 + 3 bytes, and returns the length. At most 255
// bytes of Text are kept, and the byte after them read: a character the
// cut would split is left out whole. Valid UTF-8 passes through; '"', '\' and the
// control bytes are escaped, and a byte that is not part of a valid UTF-8
// sequence is written as the character of the same number (\u00XX), so the
// line stays valid JSON and no byte is lost.
constexpr int JSON_TEXT_SIZE = RECORD_TEXT_LIMIT * 6 + 3;
int QuoteJsonText(const char *Text, char Out[JSON_TEXT_SIZE]);
