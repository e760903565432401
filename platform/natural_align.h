// Constant tables at their element's own alignment. The compiler puts any
// array of 16 bytes or more on a 16-byte boundary; between the image's
// tables that padding would be bytes of its file for nothing.
#pragma once

#define NATURAL_ALIGN(Type) __attribute__((aligned(alignof(Type))))
