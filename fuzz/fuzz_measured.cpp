// libFuzzer entry point: fuzzes the reader of measured tables (tarnok prepare).
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_one(FuzzTarget::measured, data, size);
  return 0;
}
