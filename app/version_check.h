// The decision: the installed BIOS version against the configured one, and
// the update script the shell runs for it.
#pragma once

#include <stdint.h>

#include "app/update_config.h"
#include "platform/efi.h"
#include "smbios/smbios_types.h"

// Text to signed 32-bit number: blanks, one sign, blanks and zeros, then
// decimal digits, saturating at 2^64-1 and keeping the low 32 bits.
int32_t ParseVersionNumber(const char *Text);

// "UpdateHWOld.nsh" when Configured > Installed, else "UpdateHWNew.nsh".
const char16_t *ChooseUpdateScript(int32_t Installed, int32_t Configured);

// Runs the version check for one BIOS Information structure: the chosen
// script runs through the shell, with ImageHandleCopy as the parent. Returns
// false, after its message, when the structure holds no version string.
bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      EFI_HANDLE *ImageHandleCopy);
