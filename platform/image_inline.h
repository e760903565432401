// Small wrappers the image inlines at their callers, where the call costs
// more bytes than the body. The image is the freestanding build; the host
// build keeps them as ordinary functions.
#pragma once

#if __STDC_HOSTED__ == 0
#define IMAGE_INLINE __attribute__((always_inline))
#else
#define IMAGE_INLINE
#endif
