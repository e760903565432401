// SHA-256's rounds, written for size over speed, as the image carries it:
// one round loop, the schedule kept as a 16-word ring. The blocks and the
// padding are app/hash_blocks.cpp's, shared with SHA-1.
#include "app/sha256.h"

#include "app/shown_text.h"
#include "platform/natural_align.h"

namespace {

const uint32_t ROUND_CONSTANTS[64] NATURAL_ALIGN(uint32_t) = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

const uint32_t INITIAL_STATE[8] NATURAL_ALIGN(uint32_t) = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(HashBlocks *hash) {
  uint32_t w[16];
  uint32_t v[8];
  for (int i = 0; i < 8; ++i) v[i] = hash->State[i];
  for (int i = 0; i < 64; ++i) {
    uint32_t word;
    if (i < 16) {
      word = BlockWord(hash, i);
    } else {
      uint32_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];
      word = w[i & 15] + (Rotate(w15, 7) ^ Rotate(w15, 18) ^ (w15 >> 3)) + w[(i + 9) & 15] +
             (Rotate(w2, 17) ^ Rotate(w2, 19) ^ (w2 >> 10));
    }
    w[i & 15] = word;
    uint32_t e = v[4], a = v[0];
    uint32_t t1 = v[7] + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                  ((e & v[5]) ^ (~e & v[6])) + ROUND_CONSTANTS[i] + word;
    uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) +
                  ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
    for (int j = 7; j > 0; --j) v[j] = v[j - 1];
    v[4] += t1;
    v[0] = t1 + t2;
  }
  for (int i = 0; i < 8; ++i) hash->State[i] += v[i];
}

}  // namespace

void Sha256Begin(Sha256 *Hash) { HashBlocksBegin(&Hash->Blocks, Compress, INITIAL_STATE, 8); }

void Sha256Add(Sha256 *Hash, const void *Data, size_t Size) {
  HashBlocksAdd(&Hash->Blocks, Data, Size);
}

void Sha256End(Sha256 *Hash, char Hex[SHA256_HEX_SIZE]) {
  uint8_t digest[SHA256_SIZE];
  HashBlocksEnd(&Hash->Blocks, digest, SHA256_SIZE);
  for (size_t i = 0; i < SHA256_SIZE; ++i) {
    Hex[2 * i] = HEX_DIGITS[digest[i] >> 4];
    Hex[2 * i + 1] = HEX_DIGITS[digest[i] & 15];
  }
  Hex[64] = '\0';
}
