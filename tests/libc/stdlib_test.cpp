// calloc's bound on a simulated firmware: a count and size whose product
// passes the address space are refused before the firmware is asked; a
// product that fits comes back zeroed from one pool allocation.
#include <gtest/gtest.h>

#include <cstdint>

#include "libc/errno.h"
#include "libc/stdlib.h"
#include "sim/firmware.h"

namespace {

TEST(Calloc, OverflowingProductIsRefusedBeforeTheFirmwareIsAsked) {
  struct Case {
    size_t count;
    size_t size;
    bool allocated;
  };
  constexpr size_t MAX = SIZE_MAX;
  const Case cases[] = {{MAX / 2 + 1, 2, false}, {2, MAX / 2 + 1, false}, {MAX, MAX, false},
                        {MAX / 3 + 1, 3, false}, {3, 5, true},            {1, 642, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " x " << c.size);
    sim::Firmware fw;
    fw.InstallGlobals();
    libc::ErrorNumber = 0;
    unsigned char *block = static_cast<unsigned char *>(libc::calloc(c.count, c.size));
    EXPECT_EQ(block != nullptr, c.allocated);
    EXPECT_EQ(fw.Count(sim::Call::AllocatePool), c.allocated ? 1u : 0u);
    if (block == nullptr) {
      EXPECT_EQ(libc::ErrorNumber, libc::LIBC_ENOMEM);
      continue;
    }
    for (size_t i = 0; i < c.count * c.size; ++i) ASSERT_EQ(block[i], 0) << i;
    libc::free(block);
  }
}

}  // namespace
