// LoadUpdateConfig on arbitrary file bytes, read the way the image reads
// them: the real shell-application frame on the simulated firmware, the C
// library streams, and the simulated shell's file access (UEFI Shell for
// inputs of even size, the EFI 1.x shell's file protocol for odd ones).
//
// The result is compared with a model of the search rules written here over
// the bytes in memory: the first "ProductName=", passed over once for the
// next occurrence when its value is a YES/NO flag (searching again from the
// same offset when the first hit is at offset 0), the first "Version=", each
// value at most 9 bytes read up to and including an LF, ended by a NUL byte
// and cut at CR or LF; a key whose '=' ends the file gives an empty value; a
// missing "ProductName=" gives an empty product name and a missing
// "Version=" a run that ends with its message. One input in four also has
// a file read or seek fail, after which the version must be the file's own
// or the run must end with the read error.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "app/update_config.h"
#include "fuzz_check.h"
#include "platform/entry.h"
#include "sim/firmware.h"

namespace {

const std::string PRODUCT_NAME_KEY = "ProductName=";
const std::string VERSION_KEY = "Version=";

struct Model {
  ConfigResult result;
  std::string product;
  std::string version;
};

// The raw value at `pos` as the rest of the run sees it: at most 9 bytes
// through the first LF, then up to the first NUL.
std::string RawValue(const std::string &file, size_t pos) {
  std::string raw;
  while (raw.size() < 9 && pos < file.size()) {
    char c = file[pos++];
    raw += c;
    if (c == '\n') break;
  }
  return raw.substr(0, raw.find('\0'));
}

std::string CutAtLineEnd(const std::string &raw) { return raw.substr(0, raw.find_first_of("\r\n")); }

bool IsFlag(const std::string &raw) {
  for (const std::string word : {"YES", "NO"}) {
    if (word.compare(0, raw.size(), raw) == 0 && raw.size() <= word.size()) return true;
    if (raw.compare(0, word.size(), word) == 0) return true;
  }
  return false;
}

Model Expected(const std::string &file) {
  Model m = {ConfigResult::Loaded, "", ""};
  size_t hit = file.find(PRODUCT_NAME_KEY);
  if (hit != std::string::npos) {
    std::string raw = RawValue(file, hit + PRODUCT_NAME_KEY.size());
    if (IsFlag(raw)) {
      size_t again = file.find(PRODUCT_NAME_KEY, hit == 0 ? 0 : hit + 1);
      raw = again == std::string::npos ? "" : RawValue(file, again + PRODUCT_NAME_KEY.size());
    }
    m.product = CutAtLineEnd(raw);
  }
  size_t version = file.find(VERSION_KEY);
  if (version == std::string::npos) {
    m.result = ConfigResult::VersionNotFound;
  } else {
    m.version = CutAtLineEnd(RawValue(file, version + VERSION_KEY.size()));
  }
  return m;
}

std::function<void()> gBody;
int RunBody(int, char **) {
  gBody();
  return 0;
}

const char *Name(ConfigResult result) {
  switch (result) {
    case ConfigResult::Loaded:
      return "Loaded";
    case ConfigResult::FileNotFound:
      return "FileNotFound";
    case ConfigResult::VersionNotFound:
      return "VersionNotFound";
    case ConfigResult::ReadError:
      return "ReadError";
  }
  return "?";
}

// Which file call fails, if any, taken from the input's size and bytes so
// that every input stays a plain configuration file: one input in four has
// its Nth read or Nth seek fail (N from 1 to 4).
struct Fault {
  bool any = false;
  sim::Call call = sim::Call::FileRead;
  unsigned nth = 0;
};

Fault ChooseFault(const uint8_t *data, size_t size) {
  Fault fault;
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  switch ((size / 2) % 8) {
    case 6:
      fault = {true, sim::Call::FileRead, 1 + sum % 4};
      break;
    case 7:
      fault = {true, sim::Call::FileSetPosition, 1 + sum % 4};
      break;
    default:
      break;
  }
  return fault;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string file(reinterpret_cast<const char *>(data), size);
  sim::Options options;
  options.shell = size % 2 == 0 ? sim::ShellKind::Uefi2 : sim::ShellKind::Legacy;
  sim::Firmware fw(options);
  fw.AddFile("UpdateConfig.ini", file);
  const Fault fault = ChooseFault(data, size);

  bool ran = false;
  UpdateConfig config = {};
  ConfigResult result = ConfigResult::FileNotFound;
  gBody = [&] {
    ran = true;
    fw.ResetCounts();
    if (fault.any) fw.FailNth(fault.call, fault.nth);
    result = LoadUpdateConfig(&config);
  };
  EFI_STATUS status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), RunBody);
  FUZZ_CHECK(ran && status == EFI_SUCCESS, "frame status " + std::to_string(status));

  Model want = Expected(file);
  std::string context = "file " + fuzzcheck::Show(file.substr(0, 200));
  if (fault.any) {
    context += std::string(" with ") + sim::CallName(fault.call) + " call " +
               std::to_string(fault.nth) + " failing";
  }
  // Both values must end inside their 10 bytes before anything reads them.
  FUZZ_CHECK(std::memchr(config.ProductName, 0, CONFIG_VALUE_SIZE) != nullptr &&
                 std::memchr(config.Version, 0, CONFIG_VALUE_SIZE) != nullptr,
             context + ": a value without its NUL");
  FUZZ_CHECK(sim::LeakReport(fw).empty(), sim::LeakReport(fw));

  if (fw.FaultsInjected() != 0) {
    // A file that cannot be read whole leaves the version unknown, never
    // wrong: the run either gets the file's own values or ends with the
    // read error. (The product name takes no part in the decision.)
    FUZZ_CHECK(result == ConfigResult::ReadError || result == want.result,
               context + ": " + Name(result) + ", expected ReadError or " + Name(want.result));
    if (result == ConfigResult::ReadError) {
      FUZZ_CHECK(fw.ConsoleLines() ==
                     std::vector<std::u16string>{u"ERROR: UpdateConfig.ini could not be read.\r\n"},
                 context + ": read error message");
    } else if (result == ConfigResult::Loaded) {
      FUZZ_CHECK(config.Version == want.version,
                 context + ": version " + fuzzcheck::Show(std::string(config.Version)) +
                     ", the file holds " + fuzzcheck::Show(want.version));
    }
    return 0;
  }

  FUZZ_CHECK(result == want.result,
             context + ": " + Name(result) + ", expected " + Name(want.result));
  FUZZ_CHECK(config.ProductName == want.product,
             context + ": product " + fuzzcheck::Show(std::string(config.ProductName)) +
                 ", expected " + fuzzcheck::Show(want.product));
  if (want.result == ConfigResult::Loaded) {
    FUZZ_CHECK(config.Version == want.version,
               context + ": version " + fuzzcheck::Show(std::string(config.Version)) +
                   ", expected " + fuzzcheck::Show(want.version));
    FUZZ_CHECK(fw.ConsoleLines().empty(), context + ": a message on a loaded file");
  } else {
    FUZZ_CHECK(fw.ConsoleLines() ==
                   std::vector<std::u16string>{u"ERROR: Version= not found in UpdateConfig.ini.\r\n"},
               context + ": missing Version= message");
  }
  return 0;
}
