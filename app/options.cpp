// The image's options. Matching ignores ASCII case only: the shell hands
// over whatever the kit's startup.nsh spelt, and "-V" or "-Segments" there
// must not silently fall back to the plain run.
#include "app/options.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Word is lower case; Argument matches it whole, ASCII case ignored.
bool Matches(const char *argument, const char *word) {
  for (; *word != '\0'; ++argument, ++word) {
    if (LowerAscii(*argument) != *word) return false;
  }
  return *argument == '\0';
}

}  // namespace

void ParseRunOptions(int argc, char **argv, RunOptions *Options) {
  *Options = RunOptions{};
  for (int i = 1; i < argc; ++i) {
    const char *argument = argv[i];
    if (argument == nullptr) continue;
    if (Matches(argument, "-v")) Options->Verbose = true;
    if (Matches(argument, "-n")) Options->DecideOnly = true;
    if (Matches(argument, "-segments")) Options->Segments = true;
    if (Matches(argument, "-product")) Options->Product = true;
    if (Matches(argument, "-smbios3")) Options->Smbios3 = true;
    if (Matches(argument, "-log")) {
      Options->Log = i + 1 < argc && argv[i + 1] != nullptr ? argv[++i] : "";
    }
  }
  // Deciding without running is only worth anything when it is said.
  if (Options->DecideOnly) Options->Verbose = true;
}
