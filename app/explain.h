// Telling: the lines the run prints about its decision. The -v and -n lines
// say what was read, which rule decided and the outcome; the ERROR lines say
// why no script runs. Everything arrives here already read and decided, so
// nothing below decides again.
#pragma once

#include <stdint.h>

#include "app/smbios_facts.h"
#include "app/version_check.h"
#include "platform/efi.h"

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
