// Replays fuzz inputs through the fuzz target without libFuzzer: each argument is a file
// or a folder of files. Used by the test suite to keep the target building and the corpus
// passing on every native build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i])) {
      // Regression inputs are kept per target, in a folder named after its corpus.
      const std::string own = fs::path(argv[1]).filename().string();
      for (const auto& e : fs::recursive_directory_iterator(argv[i]))
        if (e.is_regular_file() && e.path().filename() != "README.md" &&
            (i == 1 || e.path().parent_path().filename() == own))
          files.push_back(e.path());
    } else {
      files.emplace_back(argv[i]);
    }
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
