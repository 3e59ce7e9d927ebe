#include "frontend/document_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

// The fuzzer's seed corpus and every input it ever crashed on.
std::vector<fs::path> fuzzInputs() {
  std::vector<fs::path> inputs;
  for (const char* folder : {"fuzz/corpus", "fuzz/regressions"}) {
    const fs::path directory = fs::path(QUARVEL_SOURCE_DIR) / folder;
    if (!fs::is_directory(directory)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
      if (entry.is_regular_file() && entry.path().filename() != "README.md") {
        inputs.push_back(entry.path());
      }
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string testName(const testing::TestParamInfo<fs::path>& info) {
  std::string name =
      info.param.parent_path().filename().string() + "_" + info.param.filename().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class FuzzInput : public testing::TestWithParam<fs::path> {};

TEST_P(FuzzInput, LoadsAndFormatsSoundly) {
  const std::string bytes = readFile(GetParam());
  EXPECT_EQ(probeDocument(bytes), "") << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Replay, FuzzInput, testing::ValuesIn(fuzzInputs()), testName);

TEST(FuzzInputs, SeedCorpusIsPresent) { EXPECT_GE(fuzzInputs().size(), 20u); }

}  // namespace
}  // namespace quarvel
