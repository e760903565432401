// The product rule: whether a machine's product name is one of the models a
// ProductName= value lists. Pure: texts in, yes or no out.
#pragma once

// Whether a product name is one of the names a ProductName= value lists.
// The value lists names separated by '|'; a name that ends in '*' stands
// for every product name that begins with the part before it. Trailing
// blanks and tabs do not count, on the product or on any listed name;
// everything else is compared byte for byte, case included. An empty
// product, an empty name and a lone '*' match nothing. The fleet report
// assigns machines to kits with this same function.
bool ProductNameMatches(const char *Product, const char *Names);

