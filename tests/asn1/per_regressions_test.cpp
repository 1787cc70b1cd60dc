// Every input the PER fuzz target ever found failing is replayed here, from
// the files of tests/asn1/regressions/ (first octet: the type, as in the
// fuzz target) and from the inline cases below.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PerFuzzBody.h"

namespace {

bool replay(std::vector<uint8_t> const& input) { return PerTest::perFuzzOne(input.data(), input.size()); }

}  // namespace

TEST(PerRegressions, StoredInputs) {
  std::filesystem::path dir = std::filesystem::path(QUORVAD_SOURCE_DIR) / "tests/asn1/regressions";
  ASSERT_TRUE(std::filesystem::is_directory(dir));
  for (auto const& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(replay(bytes)) << entry.path();
  }
}

TEST(PerRegressions, InlineInputs) {
  std::vector<std::vector<uint8_t> > const cases = {
      // An empty input, and a selector without data.
      {},
      {0x00},
      // Unknown alternative followed by a field: decodes, cannot re-encode.
      {0x02, 0x81, 0x01, 0x80, 0x2A},
  };
  for (auto const& c : cases) EXPECT_TRUE(replay(c));
}
