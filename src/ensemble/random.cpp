#include "ensemble/random.h"

namespace {

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

std::uint64_t splitmix64(std::uint64_t* state) {
  std::uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

Random::Random(std::uint64_t seed, std::uint64_t stream) {
  std::uint64_t state = seed ^ (stream * 0x9E3779B97F4A7C15ULL);
  for (std::uint64_t& word : s_) word = splitmix64(&state);
}

std::uint64_t Random::next() {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double Random::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

std::uint64_t Random::below(std::uint64_t n) {
  // Draws in [limit, 2^64) would favour the small remainders.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  std::uint64_t r = next();
  while (r >= limit) r = next();
  return r % n;
}
