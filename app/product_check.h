// The -product check: the machine must be the model the kit was made for.
#pragma once

#include "app/update_config.h"
#include "smbios/structure_walk.h"

// Compares the Product Name string of the first System Information
// structure with the whole ProductName= value, trailing blanks ignored on
// both sides. Prints a line naming both and returns false on a mismatch, a
// missing structure or an empty value; with Verbose, says when they match.
bool CheckProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const UpdateConfig *Config,
                      bool Verbose);
