// libFuzzer entry point: fuzzes a whole run on three small fuzzed files.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_one(FuzzTarget::run, data, size);
  return 0;
}
