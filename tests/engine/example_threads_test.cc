// The console program on the shipped example data (7894 genes, five
// studies), end to end on 1, 2, 3 and 7 threads: the results file and the
// screen must be the same bytes whatever the threads, the runs' draws made
// as they go (one thread) or ahead (several).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifndef KORVELAN_BINARY
#error "KORVELAN_BINARY must name the program under test"
#endif
#ifndef KORVELAN_EXAMPLES
#error "KORVELAN_EXAMPLES must name the example data directory"
#endif

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
  int status;
  std::string results;
  std::string screen;
};

// One program run in a fresh directory holding the example's data and
// weights; the answers are the example's with `runs` runs.
Outcome RunExample(const fs::path& dir, unsigned threads, int runs) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* name : {"data.txt", "weights.txt"}) {
    fs::copy_file(fs::path(KORVELAN_EXAMPLES) / name, dir / name);
  }
  std::ofstream(dir / "answers.txt") << "1\n5\n7894\n5\n" << runs << "\n";
  const std::string command = "cd '" + dir.string() +
                              "' && '" KORVELAN_BINARY "' --seed 20261210 --threads " +
                              std::to_string(threads) + " < answers.txt > screen.txt 2>&1";
  Outcome out;
  out.status = std::system(command.c_str());
  out.results = ReadAll(dir / "output.txt");
  out.screen = ReadAll(dir / "screen.txt");
  return out;
}

TEST(ExampleOnThreads, EveryThreadCountWritesTheSameBytes) {
  const fs::path base =
      fs::temp_directory_path() / ("korvelan_example_threads_" + std::to_string(::getpid()));
  const Outcome one = RunExample(base / "1", 1, 20);
  ASSERT_EQ(one.status, 0) << one.screen;
  ASSERT_GT(one.results.size(), 100000u) << "no results file";
  for (unsigned threads : {2u, 3u, 7u}) {
    const Outcome many = RunExample(base / std::to_string(threads), threads, 20);
    EXPECT_EQ(many.status, 0) << threads << " threads: " << many.screen;
    EXPECT_TRUE(many.results == one.results) << threads << " threads: output.txt differs";
    EXPECT_EQ(many.screen, one.screen) << threads << " threads";
  }
  fs::remove_all(base);
}

}  // namespace
