// The preview tool's command line, its output format and the run itself.
// The run goes through ShellAppEntry, the same frame the image's entry
// point calls, with the simulated firmware standing in for the real one.
#include "sim/preview.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/char_class.h"
#include "app/file_names.h"
#include "sim/internal.h"
#include "sim/kit_check.h"
#include "sim/run.h"
#include "sim/smbios_input.h"

namespace sim {
namespace {

// Takes the value of `--name VALUE` or `--name=VALUE`.
bool TakeValue(const std::vector<std::string> &arguments, size_t *index, const std::string &name,
               std::string *value, std::string *error) {
  const std::string &argument = arguments[*index];
  if (argument.size() > name.size() && argument.compare(0, name.size() + 1, name + "=") == 0) {
    *value = argument.substr(name.size() + 1);
  } else if (*index + 1 < arguments.size()) {
    *value = arguments[++*index];
  } else {
    *error = name + " needs a value";
    return false;
  }
  if (value->empty()) {
    *error = name + " needs a non-empty value";
    return false;
  }
  return true;
}

bool IsOption(const std::string &argument, const std::string &name) {
  return argument == name || argument.compare(0, name.size() + 1, name + "=") == 0;
}

void AppendHex(unsigned value, int digits, std::string *out) {
  static const char HEX[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out->push_back(HEX[(value >> shift) & 0xF]);
}

}  // namespace

const char *PreviewUsage() {
  return "Usage: bios-update-select-preview [--smbios FILE] [--dir DIR]\n"
         "                                  [--legacy-shell | --no-shell] [--] [ARG...]\n"
         "\n"
         "Runs BiosUpdateSelect.efi on simulated firmware and prints, one line per event:\n"
         "  console: TEXT      each console output (\\\\, \\r, \\n and \\xHH escapes)\n"
         "  execute: COMMAND   each command line the application has the shell run,\n"
         "                     after FOLDER> when it runs in a folder below DIR (-kits)\n"
         "  status: 0x...      the image's exit status, last\n"
         "\n"
         "  --smbios FILE   SMBIOS data as `dmidecode --dump-bin` writes it (2.x or 3.x\n"
         "                  entry point), or a copy of /sys/firmware/dmi/tables (a folder\n"
         "                  holding smbios_entry_point and DMI); without it the firmware\n"
         "                  publishes no SMBIOS\n"
         "  --dir DIR       the shell's current directory, where " UPDATE_CONFIG_NAME " is read\n"
         "                  (read-only); default: the current working directory\n"
         "  --legacy-shell  run under an EFI 1.x shell instead of the UEFI Shell 2.0\n"
         "  --no-shell      run with no shell at all\n"
         "  ARG...          the application's arguments after its name: its options\n"
         "                  -v, -n, -segments, -product, -smbios3, -kits, -verify,\n"
         "                  -log FILE\n"
         "                  (after \"--\"); with -kits, DIR is a medium's folder that\n"
         "                  holds the library kits\n"
         "  --check-kit DIR check the kit in DIR against its " KIT_SUMS_NAME " as -verify does,\n"
         "                  print the image's lines, its identity and files, and run\n"
         "                  nothing; exit status 0 only for an intact kit\n"
         "  --help          this text\n"
         "\n"
         "Exit status: 0 when the image returned EFI_SUCCESS, 1 for any other status,\n"
         "2 when the preview itself cannot run.\n";
}

bool ParsePreviewArguments(const std::vector<std::string> &arguments, PreviewOptions *options,
                           std::string *error) {
  bool shell_chosen = false;
  size_t i = 0;
  for (; i < arguments.size(); ++i) {
    const std::string &argument = arguments[i];
    if (argument == "--") {
      ++i;
      break;
    }
    if (argument.size() < 2 || argument[0] != '-') break;
    if (argument == "--help" || argument == "-h") {
      options->help = true;
    } else if (IsOption(argument, "--smbios")) {
      if (!TakeValue(arguments, &i, "--smbios", &options->smbios_path, error)) return false;
    } else if (IsOption(argument, "--check-kit")) {
      if (!TakeValue(arguments, &i, "--check-kit", &options->check_kit, error)) return false;
    } else if (IsOption(argument, "--dir")) {
      if (!TakeValue(arguments, &i, "--dir", &options->dir, error)) return false;
    } else if (argument == "--legacy-shell" || argument == "--no-shell") {
      ShellKind kind = argument == "--no-shell" ? ShellKind::None : ShellKind::Legacy;
      if (shell_chosen && options->shell != kind) {
        *error = "--legacy-shell and --no-shell exclude each other";
        return false;
      }
      options->shell = kind;
      shell_chosen = true;
    } else {
      *error = "unknown option " + argument + " (see --help)";
      return false;
    }
  }
  options->args.assign(arguments.begin() + static_cast<long>(i), arguments.end());
  return true;
}

std::string EscapeText(const std::u16string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF;
    bool pair = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (pair) {
      out += ToUtf8(text.substr(i, 2));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += "\\u";
      AppendHex(c, 4, &out);
    } else if (c == u'\\') {
      out += "\\\\";
    } else if (c == u'\r') {
      out += "\\r";
    } else if (c == u'\n') {
      out += "\\n";
    } else if (IsControlCharacter(c)) {
      out += "\\x";
      AppendHex(c, 2, &out);
    } else {
      out += ToUtf8(std::u16string(1, c));
    }
  }
  return out;
}

std::string FormatEvent(const Event &event) {
  if (event.kind == Event::Console) return "console: " + EscapeText(event.text);
  // A command run from a folder below the medium's root (-kits) names it,
  // as the shell's prompt would.
  std::string folder = event.folder.empty() ? "" : EscapeText(event.folder) + "> ";
  return "execute: " + folder + EscapeText(event.text);
}

std::string FormatStatus(EFI_STATUS status) {
  char text[32];
  std::snprintf(text, sizeof(text), "status: 0x%016llX", static_cast<unsigned long long>(status));
  return text;
}

int RunPreview(const PreviewOptions &options, std::ostream &out, std::ostream &err) {
  if (!options.check_kit.empty()) {
    struct stat folder;
    KitFolderCheck check;
    std::string reason;
    if (stat(options.check_kit.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
      err << "bios-update-select-preview: --check-kit " << options.check_kit
          << ": not a readable directory\n";
      return PREVIEW_CANNOT_RUN;
    }
    if (!CheckKitFolder(options.check_kit, &check, &reason)) {
      err << "bios-update-select-preview: --check-kit " << options.check_kit << ": " << reason
          << "\n";
      return PREVIEW_CANNOT_RUN;
    }
    for (const std::string &note : check.notes) out << "console: " << note << "\n";
    out << "console: " << check.line << "\n";
    out << "identity: " << check.identity << "\nfiles: " << check.files << "\n";
    return check.intact ? PREVIEW_SUCCESS : PREVIEW_FAILURE_STATUS;
  }
  ImageRun run;
  run.shell = options.shell;
  run.args = options.args;
  run.dir = options.dir;
  if (run.dir.empty()) {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) {
      err << "bios-update-select-preview: cannot find the current directory: "
          << std::strerror(errno) << "\n";
      return PREVIEW_CANNOT_RUN;
    }
    run.dir = cwd;
  }
  struct stat info;
  if (stat(run.dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    err << "bios-update-select-preview: --dir " << run.dir << ": not a readable directory\n";
    return PREVIEW_CANNOT_RUN;
  }

  std::vector<uint8_t> dump;
  std::string reason;
  if (!options.smbios_path.empty()) {
    if (!LoadSmbiosInput(options.smbios_path, &dump, &reason)) {
      err << "bios-update-select-preview: --smbios " << options.smbios_path << ": " << reason
          << "\n";
      return PREVIEW_CANNOT_RUN;
    }
    run.smbios = &dump;
  }

  ImageRunResult result;
  if (!RunImage(run, &result, &reason)) {
    err << "bios-update-select-preview: " << options.smbios_path << ": " << reason << "\n";
    return PREVIEW_CANNOT_RUN;
  }
  for (const Event &event : result.events) out << FormatEvent(event) << "\n";
  out << FormatStatus(result.status) << "\n";
  out.flush();
  return result.status == EFI_SUCCESS ? PREVIEW_SUCCESS : PREVIEW_FAILURE_STATUS;
}

}  // namespace sim
