// Fails the running test when a simulated firmware goes away with a pool
// block, an open file or a misuse of its services left behind.
#include <gtest/gtest.h>

#include "sim/firmware.h"

namespace {

void FailOnLeftovers(const std::string &report) {
  ADD_FAILURE() << "the simulated firmware was left with:\n" << report;
}

const bool INSTALLED = (sim::SetLeftoverHandler(FailOnLeftovers), true);

}  // namespace
