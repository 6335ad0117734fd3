// The largest input the dialogue accepts, end to end: 499999 probes of 98
// studies, a "data.txt" of 499999 x 100 values (some 350 MB) written at
// test time. The run must end normally with a complete and correct
// "output.txt": every probe once, in class-sorted order, its R-mean and Q
// exactly as recomputed here from the data, P-values that are proportions
// whose two sides add up to at least 1. Slow: label big.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/program_runner.h"

namespace korvelan::e2e {
namespace {

constexpr int kProbes = 499999;
constexpr int kStudies = 98;
constexpr int kClasses = 50000;
constexpr int kRuns = 3;

bool Missing(int i, int j) { return (i * 7 + j * 3) % 11 == 0; }
int Rank(int i, int j) {
  return static_cast<int>((static_cast<std::int64_t>(i) * (2 * j + 1)) % kProbes) + 1;
}
int ClassOf(int i) { return i % kClasses + 1; }

void WriteData(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk;
  char buf[16];
  const auto put = [&](int v) {
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    chunk.append(buf, r.ptr);
  };
  for (int i = 1; i <= kProbes; ++i) {
    put(i);
    for (int j = 1; j <= kStudies; ++j) {
      chunk += ' ';
      if (Missing(i, j)) {
        chunk += "-99";
      } else {
        put(Rank(i, j));
      }
    }
    chunk += ' ';
    put(ClassOf(i));
    chunk += "\r\n";
    if (chunk.size() > (1 << 22)) {
      out << chunk;
      chunk.clear();
    }
  }
  out << chunk;
}

// R-mean and Q of every probe (by line number), as the program computes
// them: ranks scaled by P / present count in double and stored as floats,
// every sum rounded to float after each addition.
void Statistics(std::vector<float>& rmean, std::vector<float>& q) {
  std::vector<double> factor(kStudies + 1);
  for (int j = 1; j <= kStudies; ++j) {
    int present = 0;
    for (int i = 1; i <= kProbes; ++i) present += !Missing(i, j);
    factor[j] = static_cast<double>(kProbes) / static_cast<double>(static_cast<float>(present));
  }
  rmean.assign(kProbes + 1, 0.0f);
  q.assign(kProbes + 1, 0.0f);
  std::vector<float> r(kStudies + 1);
  for (int i = 1; i <= kProbes; ++i) {
    float sum = 0.0f;
    int n = 0;
    for (int j = 1; j <= kStudies; ++j) {
      if (Missing(i, j)) continue;
      r[j] = static_cast<float>(factor[j] * static_cast<double>(Rank(i, j)));
      sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(r[j]));
      ++n;
    }
    const float mean = static_cast<float>(static_cast<double>(sum) / static_cast<double>(n));
    float qi = 0.0f;
    for (int j = 1; j <= kStudies; ++j) {
      if (Missing(i, j)) continue;
      const double d = static_cast<double>(r[j]) - static_cast<double>(mean);
      qi = static_cast<float>(static_cast<double>(qi) + d * d);
    }
    rmean[i] = mean;
    q[i] = qi;
  }
}

std::string F24_4(float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%24.4f", static_cast<double>(v));
  return buf;
}

TEST(FaultBig, LargestAcceptedInputGivesACompleteAndCorrectResult) {
  ScratchDir scratch;
  const fs::path cwd = scratch.path() / "cwd";
  fs::create_directory(cwd);
  WriteData(cwd / "data.txt");
  std::string weights;
  for (int j = 1; j <= kStudies; ++j) weights += std::to_string(j % 7 + 1) + "\n";
  WriteBytes(cwd / "weights.txt", weights);

  RunSpec spec;
  spec.args = {"--seed", "12345"};
  spec.input = "1\n98\n499999\n50000\n" + std::to_string(kRuns) + "\n";
  spec.timeout = std::chrono::seconds(3000);
  const RunResult r = RunProgram(cwd, scratch.path(), spec);
  ASSERT_EQ(r.exit_status, 0) << Describe(r);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(" Run=           3\r\n"), std::string::npos);

  std::vector<float> rmean, q;
  Statistics(rmean, q);

  const std::string file = ReadBytes(cwd / "output.txt");
  std::size_t at = 0;
  for (int k = 0; k < 12; ++k) at = file.find("\r\n", at) + 2;
  std::vector<bool> seen(kProbes + 1, false);
  int last_class = kClasses + 1;
  int records = 0;
  while (at < file.size()) {
    const std::size_t end = file.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "record " << records + 1 << " without its line end";
    ASSERT_EQ(end - at, 199u) << "record " << records + 1;
    const std::string rec = file.substr(at, 199);
    at = end + 2;
    ++records;
    const int line = std::atoi(rec.substr(0, 7).c_str());
    ASSERT_TRUE(line >= 1 && line <= kProbes && !seen[line]) << rec;
    seen[line] = true;
    // Highest class first.
    ASSERT_LE(ClassOf(line), last_class) << rec;
    last_class = ClassOf(line);
    ASSERT_EQ(rec.substr(7, 24), F24_4(rmean[line])) << "R-mean of line " << line;
    ASSERT_EQ(rec.substr(127, 24), F24_4(q[line])) << "Q of line " << line;
    const std::size_t p_fields[] = {31, 55, 79, 103, 151, 175};
    for (int s = 0; s < 3; ++s) {
      const double right = std::strtod(rec.substr(p_fields[2 * s], 24).c_str(), nullptr);
      const double left = std::strtod(rec.substr(p_fields[2 * s + 1], 24).c_str(), nullptr);
      ASSERT_TRUE(right >= 0 && right <= 1 && left >= 0 && left <= 1) << rec;
      ASSERT_GE(right + left, 1 - 1e-6) << rec;
    }
  }
  EXPECT_EQ(records, kProbes);
}

}  // namespace
}  // namespace korvelan::e2e
