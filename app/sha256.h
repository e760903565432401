// SHA-256 in plain portable C++: the digest a kit's SHA256SUMS lists for
// each of its files. Fed in pieces of any size, so a file of any length is
// hashed through one bounded buffer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "app/hash_blocks.h"

constexpr size_t SHA256_SIZE = 32;
constexpr size_t SHA256_HEX_SIZE = SHA256_SIZE * 2 + 1;  // lower-case hex and the NUL

struct Sha256 {
  HashBlocks Blocks;
};

void Sha256Begin(Sha256 *Hash);
void Sha256Add(Sha256 *Hash, const void *Data, size_t Size);
// Ends the message and writes its digest as lower-case hex, NUL-terminated:
// the form SHA256SUMS and the run record hold it in.
void Sha256End(Sha256 *Hash, char Hex[SHA256_HEX_SIZE]);
