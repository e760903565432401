// bios-update-select-preview: runs the application, the same code as in
// the image, on the simulated firmware and prints what it did. The work is
// in sim/preview.cpp; this file only connects it to the process.
#include <iostream>
#include <string>
#include <vector>

#include "sim/preview.h"

int main(int argc, char **argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  sim::PreviewOptions options;
  std::string error;
  if (!sim::ParsePreviewArguments(arguments, &options, &error)) {
    std::cerr << "bios-update-select-preview: " << error << "\n";
    return sim::kPreviewCannotRun;
  }
  if (options.help) {
    std::cout << sim::PreviewUsage();
    return sim::kPreviewSuccess;
  }
  return sim::RunPreview(options, std::cout, std::cerr);
}
