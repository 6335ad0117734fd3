// Helpers shared by the tools' tests: a scratch directory and a writer of
// results files in the program's fixed-field layout.
#ifndef KORVELAN_TESTS_TOOLS_TEST_SUPPORT_H_
#define KORVELAN_TESTS_TOOLS_TEST_SUPPORT_H_

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

namespace korvelan::tools::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("korvelan-tools-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// prefix followed by the number, built by appending: g++ 12 at -O3 warns
// (-Wrestrict, falsely) about "g" + std::to_string(i).
inline std::string Numbered(std::string prefix, std::size_t number) {
  prefix += std::to_string(number);
  return prefix;
}

inline void WriteText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// The twelve legend records of output.txt.
inline std::string ResultsLegend() {
  return " Columns are appeared as follows:\r\n"
         "  \r\n"
         " 1: gene number\r\n"
         " 2: R-mean\r\n"
         " 3: right-sided P-value for R-mean\r\n"
         " 4: left-sided P-value for R-mean\r\n"
         " 5: right-sided P-value for R-weighted mean\r\n"
         " 6: left-sided P-value for R- weighted mean\r\n"
         " 7: Q-mean\r\n"
         " 8: right-sided P-value for Q-mean\r\n"
         " 9: left-sided P-value for Q-mean\r\n"
         "  \r\n";
}

// One Fw.d field as the program writes it; NaN as " NaN" at the left.
inline std::string FixedField(double value, int width, int decimals) {
  if (value != value) return " NaN" + std::string(static_cast<std::size_t>(width) - 4, ' ');
  std::array<char, 128> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%*.*f", width, decimals, value);
  std::string field(buffer.data());
  if (decimals == 0) field = field.substr(1) + ".";
  return field;
}

// One data record: line, R-mean, the six P-values (file order) and Q.
inline std::string ResultsRecord(int line, double r_mean, std::array<double, 6> p, double q) {
  return FixedField(line, 7, 0) + FixedField(r_mean, 24, 4) + FixedField(p[0], 24, 16) +
         FixedField(p[1], 24, 16) + FixedField(p[2], 24, 16) + FixedField(p[3], 24, 16) +
         FixedField(q, 24, 4) + FixedField(p[4], 24, 16) + FixedField(p[5], 24, 16) + "\r\n";
}

}  // namespace korvelan::tools::testing

#endif  // KORVELAN_TESTS_TOOLS_TEST_SUPPORT_H_
