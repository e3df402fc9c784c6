// libFuzzer entry point: fuzzes the form file reader.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_one(FuzzTarget::form, data, size);
  return 0;
}
