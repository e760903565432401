// The -product check: the machine must be a model the kit was made for.
#pragma once

#include "app/update_config.h"
#include "smbios/structure_walk.h"

// Whether a product name is one of the names a ProductName= value lists.
// The value lists names separated by '|'; a name that ends in '*' stands
// for every product name that begins with the part before it. Trailing
// blanks and tabs do not count, on the product or on any listed name;
// everything else is compared byte for byte, case included. An empty
// product, an empty name and a lone '*' match nothing. The fleet report
// assigns machines to kits with this same function.
bool ProductNameMatches(const char *Product, const char *Names);

// Finds the Product Name string of the first System Information structure
// and checks it against the whole ProductName= value with
// ProductNameMatches. Prints a line naming both and returns false on a
// mismatch, a missing structure or an empty value; with Verbose, says when
// they match.
bool CheckProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const UpdateConfig *Config,
                      bool Verbose);
