// What SHA-1 and SHA-256 share: both cut the message into 64-byte blocks,
// hand each whole block to their own compression function, end the message
// with 0x80, zeros and its length in bits (big-endian) and give their state
// words big-endian as the digest. Only the compression and the starting
// state differ, so those live in sha1.cpp and sha256.cpp.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct HashBlocks;
// Runs the hash's rounds over Hash->Block into Hash->State.
typedef void (*HashCompress)(HashBlocks *Hash);

struct HashBlocks {
  HashCompress Compress;
  uint32_t State[8];  // SHA-1 uses the first five
  uint64_t Length;    // bytes added so far
  uint8_t Block[64];  // the block being filled: Length % 64 of it
};

void HashBlocksBegin(HashBlocks *Hash, HashCompress Compress, const uint32_t *Initial, int Words);
void HashBlocksAdd(HashBlocks *Hash, const void *Data, size_t Size);
// Pads and ends the message, then writes the first Size bytes of the state
// (a multiple of 4) to Digest. Hash must be begun again before it is used
// once more.
void HashBlocksEnd(HashBlocks *Hash, uint8_t *Digest, size_t Size);

// Word Index (0 to 15) of the block, big-endian.
uint32_t BlockWord(const HashBlocks *Hash, int Index);
