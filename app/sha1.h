// SHA-1, for the hardware IDs: each is a name-based UUID whose bytes are the
// start of a SHA-1 digest. Nothing here is used to check the integrity of
// anything; the hash is what the IDs are defined by.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t SHA1_DIGEST_SIZE = 20;

struct Sha1 {
  uint32_t State[5];
  uint32_t Bytes;     // added so far (the IDs hash far less than 512 MiB)
  uint8_t Block[64];  // the block being filled: Bytes % 64 of it
};

void Sha1Start(Sha1 *Hash);
void Sha1Add(Sha1 *Hash, uint8_t Byte);
// Pads, ends the hash and writes the digest; Hash must be started again
// before it is used once more.
void Sha1Finish(Sha1 *Hash, uint8_t Digest[SHA1_DIGEST_SIZE]);
