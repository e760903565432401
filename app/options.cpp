// The image's options. Matching ignores ASCII case only: the shell hands
// over whatever the kit's startup.nsh spelt, and "-V" or "-Segments" there
// must not silently fall back to the plain run.
#include "app/options.h"

#include "platform/natural_align.h"

const OptionWord OPTION_WORDS[OPTION_WORD_COUNT] NATURAL_ALIGN(OptionWord) = {
    {"-v", offsetof(RunOptions, Verbose)},         {"-n", offsetof(RunOptions, DecideOnly)},
    {"-segments", offsetof(RunOptions, Segments)}, {"-product", offsetof(RunOptions, Product)},
    {"-smbios3", offsetof(RunOptions, Smbios3)},   {"-kits", offsetof(RunOptions, Kits)},
    {"-verify", offsetof(RunOptions, Verify)},
    {"-hwids", offsetof(RunOptions, HardwareIds)},
};

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Word is lower case; Argument matches it whole, ASCII case ignored.
bool Matches(const char *argument, const char *word) {
  for (; *word != '\0'; ++argument, ++word) {
    if (LowerAscii(*argument) != *word) return false;
  }
  return *argument == '\0';
}

// The option Argument is; null for none.
const OptionWord *FindOption(const char *argument) {
  for (const OptionWord &option : OPTION_WORDS) {
    if (Matches(argument, option.Word)) return &option;
  }
  return nullptr;
}

}  // namespace

int NextUnknownOption(int argc, char **argv, int Start) {
  for (int i = Start; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (Matches(argv[i], "-log")) {
      ++i;  // its FILE, whatever it looks like
    } else if (argv[i][0] == '-' && FindOption(argv[i]) == nullptr) {
      return i;
    }
  }
  return argc;
}

int NextNonOption(int argc, char **argv, int Start) {
  for (int i = Start; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (Matches(argv[i], "-log")) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) return i;
      ++i;  // its FILE, whatever it looks like
    } else if (FindOption(argv[i]) == nullptr) {
      return i;
    }
  }
  return argc;
}

const char *RunOptionName(int Index) {
  constexpr int WORDS = sizeof(OPTION_WORDS) / sizeof(OPTION_WORDS[0]);
  if (Index >= 0 && Index < WORDS) return OPTION_WORDS[Index].Word;
  return Index == WORDS ? "-log" : nullptr;
}

void ParseRunOptions(int argc, char **argv, RunOptions *Options) {
  *Options = RunOptions{};
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (Matches(argv[i], "-log")) {
      Options->Log = i + 1 < argc && argv[i + 1] != nullptr ? argv[++i] : "";
      continue;
    }
    const OptionWord *option = FindOption(argv[i]);
    if (option != nullptr) *OptionFlag(Options, *option) = true;
  }
  // Deciding without running is only worth anything when it is said.
  if (Options->DecideOnly) Options->Verbose = true;
}
