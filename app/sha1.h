// SHA-1, for the hardware IDs: each is a name-based UUID whose bytes are the
// start of a SHA-1 digest. Nothing here is used to check the integrity of
// anything; the hash is what the IDs are defined by.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "app/hash_blocks.h"

constexpr size_t SHA1_DIGEST_SIZE = 20;

struct Sha1 {
  HashBlocks Blocks;
};

void Sha1Start(Sha1 *Hash);
void Sha1Add(Sha1 *Hash, const void *Data, size_t Size);
// Pads, ends the hash and writes the first Size bytes of the digest (a
// multiple of 4, at most SHA1_DIGEST_SIZE: a hardware ID keeps 16); Hash
// must be started again before it is used once more.
void Sha1Finish(Sha1 *Hash, uint8_t *Digest, size_t Size);
