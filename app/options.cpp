// The image's options. Matching ignores ASCII case only: the shell hands
// over whatever the kit's startup.nsh spelt, and "-V" or "-Segments" there
// must not silently fall back to the plain run.
#include "app/options.h"

#include "platform/natural_align.h"

namespace {

// The options' words, lower case, in the order of their indexes: one
// packed text rather than a table, which is smaller in the image.
constexpr char WORDS[] NATURAL_ALIGN(char) =
    "-v\0-n\0-segments\0-product\0-smbios3\0-kits\0-verify\0-hwids\0-log";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The index of the option Argument is (matched whole, ASCII case ignored);
// -1 for none.
int FindOption(const char *argument) {
  const char *word = WORDS;
  for (int index = 0; index <= OPTION_LOG; ++index) {
    const char *text = argument;
    for (; *word != '\0' && LowerAscii(*text) == *word; ++text, ++word) {
    }
    if (*word == '\0' && *text == '\0') return index;
    while (*word++ != '\0') {
    }
  }
  return -1;
}

}  // namespace

int NextUnknownOption(int argc, char **argv, int Start) {
  for (int i = Start; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    int option = FindOption(argv[i]);
    if (option == OPTION_LOG) {
      ++i;  // its FILE, whatever it looks like
    } else if (option < 0 && argv[i][0] == '-') {
      return i;
    }
  }
  return argc;
}

int NextNonOption(int argc, char **argv, int Start) {
  for (int i = Start; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    int option = FindOption(argv[i]);
    if (option == OPTION_LOG) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) return i;
      ++i;  // its FILE, whatever it looks like
    } else if (option < 0) {
      return i;
    }
  }
  return argc;
}

const char *RunOptionName(int Index) {
  if (Index < 0 || Index > OPTION_LOG) return nullptr;
  const char *word = WORDS;
  for (; Index > 0; --Index) {
    while (*word++ != '\0') {
    }
  }
  return word;
}

void ParseRunOptions(int argc, char **argv, RunOptions *Options) {
  *Options = RunOptions{};
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    int option = FindOption(argv[i]);
    if (option == OPTION_LOG) {
      Options->Log = i + 1 < argc && argv[i + 1] != nullptr ? argv[++i] : "";
    } else if (option >= 0) {
      *OptionFlag(Options, option) = true;
    }
  }
  // Deciding without running is only worth anything when it is said.
  if (Options->DecideOnly) Options->Verbose = true;
}
