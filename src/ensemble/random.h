// The random numbers of starts and bootstrap replicates, defined here bit for bit
// (the standard library's distributions differ between library vendors), so one
// seed gives the same starts and replicates on every platform and thread count.
#pragma once

#include <cstdint>

// splitmix64: one step of the generator that seeds the streams.
std::uint64_t splitmix64(std::uint64_t* state);

// xoshiro256**: a 64-bit generator with a state of four words.
class Random {
 public:
  // The generator of stream `stream` under `seed`: its four state words are the
  // first four outputs of splitmix64 started from seed ^ (stream * 0x9E3779B97F4A7C15).
  Random(std::uint64_t seed, std::uint64_t stream);
  // A generator with the given state (not all zero).
  Random(std::uint64_t s0, std::uint64_t s1, std::uint64_t s2, std::uint64_t s3) : s_{s0, s1, s2, s3} {}

  std::uint64_t next();

  // A double in [0, 1): the top 53 bits of next(), times 2^-53.
  double uniform();

  // An integer in [0, n) for n >= 1: next() mod n, where a draw at or above the
  // largest multiple of n that fits in 64 bits is drawn again (no bias).
  std::uint64_t below(std::uint64_t n);

 private:
  std::uint64_t s_[4];
};
