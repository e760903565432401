// The block buffering and padding of SHA-1 and SHA-256. Bytes go into the
// block one at a time, which costs little against the rounds and keeps the
// code the image carries small.
#include "app/hash_blocks.h"

namespace {

// Value's four bytes, most significant first.
void PutBigEndian(uint8_t *At, uint32_t Value) {
  At[0] = static_cast<uint8_t>(Value >> 24);
  At[1] = static_cast<uint8_t>(Value >> 16);
  At[2] = static_cast<uint8_t>(Value >> 8);
  At[3] = static_cast<uint8_t>(Value);
}

}  // namespace

void HashBlocksBegin(HashBlocks *Hash, HashCompress Compress, const uint32_t *Initial, int Words) {
  Hash->Compress = Compress;
  for (int i = 0; i < Words; ++i) Hash->State[i] = Initial[i];
  Hash->Length = 0;
}

void HashBlocksAdd(HashBlocks *Hash, const void *Data, size_t Size) {
  const uint8_t *bytes = static_cast<const uint8_t *>(Data);
  for (size_t i = 0; i < Size; ++i) {
    Hash->Block[Hash->Length++ & 63] = bytes[i];
    if ((Hash->Length & 63) == 0) Hash->Compress(Hash);
  }
}

void HashBlocksEnd(HashBlocks *Hash, uint8_t *Digest, size_t Size) {
  // 0x80, zeros up to 56 bytes of a block, then the length in bits.
  uint64_t bits = Hash->Length << 3;
  uint8_t byte = 0x80;
  do {
    HashBlocksAdd(Hash, &byte, 1);
    byte = 0;
  } while ((Hash->Length & 63) != 56);
  PutBigEndian(Hash->Block + 56, static_cast<uint32_t>(bits >> 32));
  PutBigEndian(Hash->Block + 60, static_cast<uint32_t>(bits));
  Hash->Compress(Hash);
  for (size_t i = 0; i < Size / 4; ++i) PutBigEndian(Digest + 4 * i, Hash->State[i]);
}

uint32_t BlockWord(const HashBlocks *Hash, int Index) {
  const uint8_t *b = Hash->Block + 4 * Index;
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}
