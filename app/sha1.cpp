// SHA-1 over bytes, kept small for the image: bytes go in one at a time
// (the IDs hash a few hundred at most), one loop runs the eighty rounds,
// and padding goes through the same byte path. Big-endian words, as the
// hash is defined.
#include "app/sha1.h"

namespace {

uint32_t Rotate(uint32_t Value, int Bits) { return (Value << Bits) | (Value >> (32 - Bits)); }

void Compress(Sha1 *Hash) {
  uint32_t w[80];
  for (int i = 0; i < 80; ++i) {
    w[i] = i < 16 ? 0 : Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    for (int j = 0; i < 16 && j < 4; ++j) w[i] = w[i] << 8 | Hash->Block[4 * i + j];
  }
  uint32_t v[5];
  for (int i = 0; i < 5; ++i) v[i] = Hash->State[i];
  for (int i = 0; i < 80; ++i) {
    uint32_t b = v[1], c = v[2], d = v[3];
    int round = i / 20;
    uint32_t f = round == 0 ? (b & c) | (~b & d) : round == 2 ? (b & c) | (b & d) | (c & d) : b ^ c ^ d;
    static const uint32_t K[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
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
  static const uint32_t INITIAL[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  for (int i = 0; i < 5; ++i) Hash->State[i] = INITIAL[i];
  Hash->Bytes = 0;
}

void Sha1Add(Sha1 *Hash, uint8_t Byte) {
  Hash->Block[Hash->Bytes++ % 64] = Byte;
  if (Hash->Bytes % 64 == 0) Compress(Hash);
}

void Sha1Finish(Sha1 *Hash, uint8_t Digest[SHA1_DIGEST_SIZE]) {
  uint64_t bits = uint64_t(Hash->Bytes) * 8;
  Sha1Add(Hash, 0x80);
  while (Hash->Bytes % 64 != 56) Sha1Add(Hash, 0);
  for (int i = 56; i >= 0; i -= 8) Sha1Add(Hash, static_cast<uint8_t>(bits >> i));
  for (int i = 0; i < 20; ++i) Digest[i] = static_cast<uint8_t>(Hash->State[i / 4] >> (24 - 8 * (i % 4)));
}
