// Telling: the lines the run prints about its decision. The -v and -n lines
// say what was read, which rule decided and the outcome; the ERROR lines say
// why no script runs. Everything arrives here already read and decided, so
// nothing below decides again.
#pragma once

#include <stdint.h>

#include "app/hardware_ids.h"
#include "app/kit_library.h"
#include "app/kit_verify.h"
#include "app/smbios_facts.h"
#include "app/version_check.h"
#include "platform/efi.h"

// Prints Format with up to three texts quoted through ShowText (a null one
// as ""), then More. Most lines quote texts from the firmware or the kit
// and nothing else, so they share this one sequence; a text of our own
// passed here comes out as it is (printable and short).
void PrintShown(const char *Format, const char *A, const char *B = nullptr,
                const char *C = nullptr, const char *More = nullptr);

// Installed is the string the rule read, and Field the BIOS Version field,
// which may name another string.
void ExplainIntegerDecision(const char *Installed, const char *Configured,
                            const IntegerDecision *Decision, IntegerReading InstalledReading,
                            IntegerReading ConfiguredReading, BiosVersionField Field,
                            bool DecideOnly);

void ExplainSegmentDecision(const char *Installed, const char *Configured, VersionOrder Order,
                            bool DecideOnly);

void TellBiosVersionNotFound();
void TellVersionsNotComparable(const char *Installed, const char *Configured);

// The product check: no System Information structure, a product that is
// not listed, or (-v) one that is.
void TellNoProductName(const char *Names);
void TellProductNotListed(const char *Product, const char *Names);
void TellProductMatches(const char *Product);

// -v: the shell could not run Script (no such file, or it refused it);
// Status is what said so.
void TellScriptNotRun(const char16_t *Script, EFI_STATUS Status);

// -kits: the kit chosen (-v), and each reason no kit is chosen.
void TellKitChosen(const char16_t *Path, const char *Names, const char *Product);
void TellNoProductForKits();
// Manufacturer is null when no kit of the library holds HardwareIds=.
void TellNoKitServes(const char *Product, const char *Manufacturer);
void TellSeveralKitsServe(const char *Product, const char16_t *Kits);
void TellLibraryProblem(LibraryProblem Problem, const char16_t *Where);

// -verify: why a kit is not intact, (-v) that it is, and a file of its
// folder that SHA256SUMS does not list.
void TellKitCheck(const KitCheck *Check, const char16_t *Folder);
void TellFileNotListed(const char16_t *Folder, const char16_t *Name);
// The model check by hardware IDs, for -product (Kit "." for the ID that
// matched, null for a malformed entry) and -kits: the ID that matched (-v),
// an entry that is no ID, and a machine none of whose IDs the list names.
void TellIdServes(const char16_t *Kit, const HardwareIds *Ids, int Index);
void TellMalformedEntry(const char16_t *Kit, const char *Entry, size_t Length);
void TellIdsNotListed(const char *Manufacturer, const char *Product, const char *List);

// -hwids: each field as the IDs take it, then each ID with the fields it
// joins.
void TellHardwareIds(const HardwareIdFields *Fields, const HardwareIds *Ids);

// An argument that looks like an option but is none.
void TellNotAnOption(const char *Argument);
