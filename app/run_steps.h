// The run's steps. Each step reads (configuration, SMBIOS facts), decides
// with the pure rules, tells (-v and ERROR lines) and acts (the script), in
// that order, by calling those floors; none of them calls back up.
#pragma once

#include <stdint.h>

#include "app/options.h"
#include "app/update_config.h"
#include "platform/efi.h"
#include "smbios/smbios_types.h"
#include "smbios/structure_walk.h"

// The version check for one BIOS Information structure: the integer rule on
// string 2, or with -segments the segment rule on the string the BIOS
// Version field names; the chosen script runs through the shell, with
// ImageHandleCopy as the parent, unless -n. Returns false, after its
// message, when no decision can be made for the structure.
bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, EFI_HANDLE *ImageHandleCopy);

// The -product check: the machine's model against the kit's model keys,
// the whole ProductName= value and HardwareIds=. Prints a line naming both
// and returns false on a mismatch, a missing structure, an empty value or a
// malformed HardwareIds= entry; with Verbose, says when they match.
bool CheckProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const UpdateConfig *Config,
                      bool Verbose);

// The -kits choice: the machine's model (product name and hardware IDs)
// against every kit of the library in the folder kits. Exactly
// one kit serving it becomes the shell's current directory; otherwise, or
// when the library cannot be read whole, a line says why, the directory
// stays as it was, and the result is false.
// With Verify, each kit's UpdateConfig.ini is checked against its
// SHA256SUMS before its ProductName= counts, and the chosen kit whole
// (VerifyKit) before it is entered.
bool ChooseKit(SmbiosWalk Walk, uint16_t DeclaredCount, bool Verbose, bool Verify = false);

// -verify: every file the kit in Folder ("" for the current directory)
// lists in SHA256SUMS against its digest. False after the line saying what
// is not intact; with Verbose, notes the files not listed (in a library's
// kit) and says so when all match. The kit's identity goes to the record.
bool VerifyKit(const char16_t *Folder, bool Verbose);

// -hwids: prints the machine's hardware-ID fields and its IDs.
void ShowHardwareIds(SmbiosWalk Walk, uint16_t DeclaredCount);
