// Texts from the data as the report shows them. SMBIOS strings, record
// fields and file names are whatever bytes a vendor or a disk holds: every
// form shows them as UTF-8, cut as the image quotes them, with nothing in
// them that could drive a terminal or hide on a page.
#pragma once

#include <cstddef>
#include <string>

namespace fleet {

// A text from the data as a report shows it: whole up to 64 bytes, else its
// first 64 bytes (fewer, so as not to split a character) and "...", as the
// image quotes texts.
std::string ShownText(const std::string &text);

// A text from the data as the table and the page show it: control
// characters (C1 included) as \xHH, so it cannot drive a terminal and
// stays visible on the page; bytes that are not UTF-8 as U+FFFD.
std::string Cell(const std::string &text);

}  // namespace fleet
