// Every seed and every regression input of the fuzz targets, run through the same
// harness in the ordinary test builds (so also under the sanitizer build), without
// needing clang: an input that once crashed a reader must keep passing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../fuzz/harness.h"
#include "support.h"

namespace {

struct Target {
  const char* name;
  FuzzTarget target;
};

const Target kTargets[] = {
    {"profile", FuzzTarget::profile},
    {"form", FuzzTarget::form},
    {"data", FuzzTarget::data},
    {"run", FuzzTarget::run},
    {"measured", FuzzTarget::measured},
};

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, EverySeedAndRegressionInputRunsCleanly) {
  const Target& t = GetParam();
  int inputs = 0;
  for (const char* set : {"corpus", "regressions"}) {
    std::filesystem::path dir = std::filesystem::path(TARNOK_FUZZ_DIR) / set / t.name;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      const std::string bytes = read_file(entry.path().string());
      fuzz_one(t.target, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0) << "no seed inputs for " << t.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& param) { return std::string(param.param.name); });

}  // namespace
