// SHA-1's rounds, kept small for the image: one loop runs the eighty of
// them (the IDs hash a few hundred bytes at most). The blocks and the
// padding are app/hash_blocks.cpp's, shared with SHA-256.
#include "app/sha1.h"

#include "platform/natural_align.h"

namespace {

uint32_t Rotate(uint32_t Value, int Bits) { return (Value << Bits) | (Value >> (32 - Bits)); }

void Compress(HashBlocks *Hash) {
  uint32_t w[80];
  for (int i = 0; i < 80; ++i) {
    w[i] = i < 16 ? BlockWord(Hash, i) : Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  }
  uint32_t v[5];
  for (int i = 0; i < 5; ++i) v[i] = Hash->State[i];
  for (int i = 0; i < 80; ++i) {
    uint32_t b = v[1], c = v[2], d = v[3];
    int round = i / 20;
    uint32_t f = round == 0 ? (b & c) | (~b & d) : round == 2 ? (b & c) | (b & d) | (c & d) : b ^ c ^ d;
    static const uint32_t K[4] NATURAL_ALIGN(uint32_t) = {
        0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
    uint32_t t = Rotate(v[0], 5) + f + v[4] + K[round] + w[i];
    v[4] = d;
    v[3] = c;
    v[2] = Rotate(b, 30);
    v[1] = v[0];
    v[0] = t;
  }
  for (int i = 0; i < 5; ++i) Hash->State[i] += v[i];
}

}  // namespace

void Sha1Start(Sha1 *Hash) {
  static const uint32_t INITIAL[5] NATURAL_ALIGN(uint32_t) = {
      0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  HashBlocksBegin(&Hash->Blocks, Compress, INITIAL, 5);
}

void Sha1Add(Sha1 *Hash, const void *Data, size_t Size) {
  HashBlocksAdd(&Hash->Blocks, Data, Size);
}

void Sha1Finish(Sha1 *Hash, uint8_t *Digest, size_t Size) {
  HashBlocksEnd(&Hash->Blocks, Digest, Size);
}
