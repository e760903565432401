// The names the application owns on a kit medium: its configuration file,
// the two update scripts it chooses between, a kit's list of digests and
// the folder of a kit library. Everything that opens, lists, runs, records
// or reports one of these files takes its name from here, and the kit
// tools ask for them through bios-update-select-kits.
//
// They are macros, not constants, because the image needs them as parts of
// other literals: narrow ("UpdateConfig.ini not found"), UTF-16
// (u"" UPDATE_SCRIPT_OLD_NAME, which the compiler joins into one u"..."
// literal), and inside packed texts joined by "\0". Only a literal can be
// joined so at compile time; a constant array would be a second copy of
// the bytes or a pointer the loader has to fix.
#pragma once

#define UPDATE_CONFIG_NAME "UpdateConfig.ini"
// Run when the installed BIOS version is below the configured one.
#define UPDATE_SCRIPT_OLD_NAME "UpdateHWOld.nsh"
// Run otherwise.
#define UPDATE_SCRIPT_NEW_NAME "UpdateHWNew.nsh"
// In a kit's own folder: a digest for each of its files (-verify).
#define KIT_SUMS_NAME "SHA256SUMS"
// In the shell's current directory: the kits of a library (-kits).
#define KIT_LIBRARY_NAME "kits"
