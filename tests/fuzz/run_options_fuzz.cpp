// The image's options on arbitrary input: the segment rule and the option
// parser, each against a model written here another way.
//
// Byte 0 chooses. Even: the rest is two version texts, split at the first
// NUL byte (a text cannot hold one). The model tokenises both into vectors
// first, checks that they are comparable over every token, and only then
// orders the numbers as strings (zeros stripped, shorter below longer, then
// byte order), where the product walks both texts in step without copies.
// Swapping the texts must mirror the result, and a text against itself is
// equal when it holds a token at all. Odd: the rest is an argument list, NUL-separated; a lone 0xFF byte
// is a null argument, and the first argument is the image's own name, which
// the parser never looks at. Every text is copied into a block of exactly its
// size, so a read past a terminator is caught by AddressSanitizer.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/version_segments.h"
#include "fuzz_check.h"

namespace {

// --- The segment rule -----------------------------------------------------

struct ModelToken {
  bool number;
  std::string text;  // words lower-cased, numbers without leading zeros
};

bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

std::vector<ModelToken> Tokenise(const std::string &text) {
  std::vector<ModelToken> tokens;
  bool in_token = false;
  for (unsigned char c : text) {
    bool digit = IsAsciiDigit(c);
    bool letter = IsAsciiLetter(c);
    if (!digit && !letter) {
      in_token = false;
      continue;
    }
    if (!in_token || tokens.back().number != digit) tokens.push_back(ModelToken{digit, ""});
    in_token = true;
    tokens.back().text += letter ? static_cast<char>(c | 0x20) : static_cast<char>(c);
  }
  for (ModelToken &token : tokens) {
    if (!token.number) continue;
    size_t zeros = token.text.find_first_not_of('0');
    token.text.erase(0, zeros == std::string::npos ? token.text.size() : zeros);
  }
  return tokens;
}

SegmentComparison ModelCompare(const std::string &installed, const std::string &configured) {
  std::vector<ModelToken> a = Tokenise(installed);
  std::vector<ModelToken> b = Tokenise(configured);
  // Texts without a digit or a letter hold no version at all.
  if (a.size() != b.size() || a.empty()) return SegmentComparison::NotComparable;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].number != b[i].number) return SegmentComparison::NotComparable;
    if (!a[i].number && a[i].text != b[i].text) return SegmentComparison::NotComparable;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string &x = a[i].text;
    const std::string &y = b[i].text;
    if (!a[i].number || x == y) continue;
    bool below = x.size() != y.size() ? x.size() < y.size() : x < y;
    return below ? SegmentComparison::Below : SegmentComparison::Above;
  }
  return SegmentComparison::Equal;
}

SegmentComparison Mirrored(SegmentComparison result) {
  if (result == SegmentComparison::Below) return SegmentComparison::Above;
  if (result == SegmentComparison::Above) return SegmentComparison::Below;
  return result;
}

const char *Name(SegmentComparison result) {
  switch (result) {
    case SegmentComparison::Below:
      return "Below";
    case SegmentComparison::Equal:
      return "Equal";
    case SegmentComparison::Above:
      return "Above";
    case SegmentComparison::NotComparable:
      return "NotComparable";
  }
  return "(not a SegmentComparison)";
}

std::unique_ptr<char[]> ExactCopy(const std::string &text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

void CheckSegments(const uint8_t *data, size_t size) {
  const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
  size_t first = nul != nullptr ? static_cast<size_t>(nul - data) : size;
  std::string installed(reinterpret_cast<const char *>(data), first);
  std::string configured;
  if (nul != nullptr) {
    const char *rest = reinterpret_cast<const char *>(nul + 1);
    configured.assign(rest, strnlen(rest, size - first - 1));
  }
  std::unique_ptr<char[]> a = ExactCopy(installed);
  std::unique_ptr<char[]> b = ExactCopy(configured);
  std::string shown = fuzzcheck::Show(installed) + " against " + fuzzcheck::Show(configured);

  SegmentComparison got = CompareVersionSegments(a.get(), b.get());
  SegmentComparison want = ModelCompare(installed, configured);
  FUZZ_CHECK(got == want, shown + " gave " + Name(got) + ", the model " + Name(want));
  SegmentComparison swapped = CompareVersionSegments(b.get(), a.get());
  FUZZ_CHECK(swapped == Mirrored(got),
             shown + " gave " + Name(got) + " but swapped " + Name(swapped));
  SegmentComparison itself = CompareVersionSegments(a.get(), a.get());
  SegmentComparison want_itself =
      Tokenise(installed).empty() ? SegmentComparison::NotComparable : SegmentComparison::Equal;
  FUZZ_CHECK(itself == want_itself,
             fuzzcheck::Show(installed) + " against itself gave " + Name(itself));
}

// --- The option parser ----------------------------------------------------

bool ModelMatches(const std::string &argument, const char *option) {
  std::string lowered = argument;
  for (char &c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered == option;
}

std::string Show(const RunOptions &options) {
  std::string out;
  out += options.Verbose ? " Verbose" : "";
  out += options.DecideOnly ? " DecideOnly" : "";
  out += options.Segments ? " Segments" : "";
  out += options.Product ? " Product" : "";
  out += options.Smbios3 ? " Smbios3" : "";
  out += options.Kits ? " Kits" : "";
  out += options.Verify ? " Verify" : "";
  out += options.HardwareIds ? " HardwareIds" : "";
  if (options.Log != nullptr) out += " Log=" + fuzzcheck::Show(std::string(options.Log));
  return out.empty() ? " (none)" : out;
}

void CheckOptions(const uint8_t *data, size_t size) {
  // Arguments as the image sees them: NUL-terminated, null for a lone 0xFF.
  std::vector<std::unique_ptr<char[]>> blocks;
  std::vector<char *> argv;
  std::vector<std::string> texts;
  size_t start = 0;
  for (size_t i = 0; i <= size && size != 0; ++i) {
    if (i < size && data[i] != 0) continue;
    std::string text(reinterpret_cast<const char *>(data) + start, i - start);
    start = i + 1;
    if (text == "\xff") {
      argv.push_back(nullptr);
      texts.push_back("(null)");
      continue;
    }
    blocks.push_back(ExactCopy(text));
    argv.push_back(blocks.back().get());
    texts.push_back(fuzzcheck::Show(text));
  }
  int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  RunOptions want = {};
  // -log takes the argument after it, whatever it is, as its file.
  bool want_log = false;
  std::string want_log_file;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    std::string argument(argv[i]);
    if (ModelMatches(argument, "-log")) {
      want_log = true;
      want_log_file = i + 1 < argc && argv[i + 1] != nullptr ? argv[++i] : "";
      continue;
    }
    want.Verbose |= ModelMatches(argument, "-v");
    want.DecideOnly |= ModelMatches(argument, "-n");
    want.Segments |= ModelMatches(argument, "-segments");
    want.Product |= ModelMatches(argument, "-product");
    want.Smbios3 |= ModelMatches(argument, "-smbios3");
    want.Kits |= ModelMatches(argument, "-kits");
    want.Verify |= ModelMatches(argument, "-verify");
    want.HardwareIds |= ModelMatches(argument, "-hwids");
  }
  // Deciding without running always says what it decided.
  want.Verbose |= want.DecideOnly;

  // Start from every flag set, so a parser that leaves a flag alone is seen.
  RunOptions got = {true, true, true, true, true, true, true, true, "left over"};
  ParseRunOptions(argc, argv.data(), &got);
  bool same = got.Verbose == want.Verbose && got.DecideOnly == want.DecideOnly &&
              got.Segments == want.Segments && got.Product == want.Product &&
              got.Smbios3 == want.Smbios3 && got.Kits == want.Kits &&
              got.Verify == want.Verify && got.HardwareIds == want.HardwareIds &&
              (got.Log != nullptr) == want_log && (!want_log || want_log_file == got.Log);
  std::string listed;
  for (const std::string &text : texts) listed += " " + text;
  FUZZ_CHECK(same, "arguments" + listed + " gave" + Show(got) + ", the model" + Show(want));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  if ((data[0] & 1) == 0) {
    CheckSegments(data + 1, size - 1);
  } else {
    CheckOptions(data + 1, size - 1);
  }
  return 0;
}
