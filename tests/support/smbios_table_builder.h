// Builds SMBIOS structure tables byte by byte for tests: each structure is a
// formatted area (header plus extra bytes) and a string-set.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

class SmbiosTableBuilder {
 public:
  // Appends a structure; `strings` empty gives the two-NUL string-set.
  SmbiosTableBuilder &Add(uint8_t type, uint16_t handle, std::initializer_list<std::string> strings,
                          uint8_t formatted_length = 4) {
    std::vector<std::string> list(strings);
    return AddList(type, handle, list, formatted_length);
  }
  SmbiosTableBuilder &AddList(uint8_t type, uint16_t handle, const std::vector<std::string> &strings,
                              uint8_t formatted_length = 4) {
    starts_.push_back(bytes_.size());
    bytes_.push_back(type);
    bytes_.push_back(formatted_length);
    bytes_.push_back(static_cast<uint8_t>(handle & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(handle >> 8));
    for (int i = 4; i < formatted_length; ++i) bytes_.push_back(static_cast<uint8_t>(i));
    if (strings.empty()) {
      bytes_.push_back(0);
    } else {
      for (const std::string &s : strings) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        bytes_.push_back(0);
      }
    }
    bytes_.push_back(0);
    return *this;
  }
  // A BIOS Information structure with the usual strings: vendor, version, date.
  SmbiosTableBuilder &AddBios(uint16_t handle, const std::string &version) {
    return Add(0, handle, {"Acme", version, "01/02/2026"}, 0x18);
  }
  SmbiosTableBuilder &Raw(std::initializer_list<uint8_t> raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
  }
  // Sets byte `offset` of structure `index`'s formatted area, such as a
  // string-number field.
  SmbiosTableBuilder &SetField(size_t index, size_t offset, uint8_t value) {
    bytes_.at(starts_.at(index) + offset) = value;
    return *this;
  }
  const std::vector<uint8_t> &Bytes() const { return bytes_; }
  size_t StartOf(size_t index) const { return starts_.at(index); }
  size_t Count() const { return starts_.size(); }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<size_t> starts_;
};

}  // namespace testsupport
