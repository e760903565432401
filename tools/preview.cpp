// bios-update-select-preview: runs the application, the same code as in
// the image, on the simulated firmware and prints what it did. The work is
// in sim/preview.cpp; this file only connects it to the process: standard
// output that reports its failures, and the one line of a refusal kept one
// line whatever names it quotes.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/host_output.h"
#include "sim/preview.h"

namespace {

// The reason as one line: control bytes in the names it quotes as \xHH.
void PrintReason(const std::string &text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && !(c == '\n' && i + 1 == text.size())) || c == 0x7F) {
      line += "\\x";
      line += HEX[c >> 4];
      line += HEX[c & 0xF];
    } else {
      line += static_cast<char>(c);
    }
  }
  std::cerr << line << std::flush;
}

}  // namespace

int main(int argc, char **argv) {
  sim::StandardStreams streams = sim::KeepStandardStreamsTaken();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  sim::PreviewOptions options;
  std::string error;
  if (!sim::ParsePreviewArguments(arguments, &options, &error)) {
    PrintReason("bios-update-select-preview: " + error + "\n");
    return sim::PREVIEW_CANNOT_RUN;
  }
  if (streams.closed[STDOUT_FILENO]) {
    PrintReason("bios-update-select-preview: standard output is closed\n");
    return sim::PREVIEW_CANNOT_RUN;
  }
  sim::FdBuffer buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  int code = sim::PREVIEW_SUCCESS;
  if (options.help) {
    out << sim::PreviewUsage();
  } else {
    std::ostringstream err;
    code = sim::RunPreview(options, out, err);
    if (!err.str().empty()) PrintReason(err.str());
  }
  out.flush();
  if (buffer.Error() != 0) {
    PrintReason(std::string("bios-update-select-preview: standard output: cannot be written: ") +
                std::strerror(buffer.Error()) + "\n");
    return sim::PREVIEW_CANNOT_RUN;
  }
  return code;
}
