#include "driver/loading.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/scaling.h"
#include "textio/termination.h"

namespace korvelan::driver {
namespace {

namespace fs = std::filesystem;

// Every test runs in a fresh working directory of its own: the loading
// phase opens its files by plain name.
class LoadingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvelan-loading-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = fs::canonical(pattern);
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  void Write(const char* name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string Read(const char* name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static AnalysisParameters Params(std::int32_t type, std::int32_t s, std::int32_t p) {
    AnalysisParameters d;
    d.analysis_type = type;
    d.studies = s;
    d.probes = p;
    d.classes = 5;
    d.class_column = s + 1;
    return d;
  }
  // The loading phase, expected to end with severe condition `number`.
  textio::Termination Fails(const AnalysisParameters& d) {
    try {
      LoadInputs(d);
    } catch (const textio::Termination& t) {
      return t;
    }
    ADD_FAILURE() << "loading succeeded";
    return textio::Termination::Stop(0);
  }
  fs::path dir_;
  fs::path old_;
};

std::vector<float> Row(const RankMatrix& m, std::int32_t row, std::int32_t cols) {
  std::vector<float> out;
  for (std::int32_t k = 1; k <= cols; ++k) out.push_back(m.Get(row, k));
  return out;
}

TEST_F(LoadingTest, DropsTheLabelKeepsTheClassAndNumbersTheRecords) {
  Write("data.txt", "17 5 -99 230 2\n18 1 3 -99 1\n19 2 -9.9E1 1 2\n");
  Write("weights.txt", "0.5 2 1\n");
  LoadedInputs in = LoadInputs(Params(1, 3, 3));
  // Study 1 ranked all three probes (x 1), study 2 one (x 3), study 3 two
  // (x 1.5).
  EXPECT_EQ(Row(in.ranks, 1, 6), (std::vector<float>{5, -99, 345, 2, 1, 0}));
  EXPECT_EQ(Row(in.ranks, 2, 6), (std::vector<float>{1, 9, -99, 1, 2, 0}));
  EXPECT_EQ(Row(in.ranks, 3, 6), (std::vector<float>{2, -99, 1.5f, 2, 3, 0}));
  EXPECT_EQ(Row(in.ranks, 4, 6), (std::vector<float>(6, 0.0f))) << "rows beyond P read as zero";
  EXPECT_EQ(in.weights.Get(1), 0.5f);
  EXPECT_EQ(in.weights.Get(2), 2.0f);
  EXPECT_EQ(in.weights.Get(3), 1.0f);
  EXPECT_EQ(in.weights.Get(4), 0.0f);
  ASSERT_NE(in.results, nullptr);
  EXPECT_TRUE(fs::exists(dir_ / "output.txt"));
}

TEST_F(LoadingTest, ScalesEveryStudyToTheScaleOfAllProbes) {
  // P = 1000; study 1 ranks the first 500 probes, study 2 all of them.
  std::string data;
  for (int i = 1; i <= 1000; ++i) {
    data += std::to_string(i) + " " + (i <= 500 ? std::to_string(i) : "-99") + " " +
            std::to_string(1001 - i) + " 1\n";
  }
  Write("data.txt", data);
  LoadedInputs in = LoadInputs(Params(0, 2, 1000));
  EXPECT_EQ(in.ranks.Get(10, 1), 20.0f);
  EXPECT_EQ(in.ranks.Get(500, 1), 1000.0f);
  EXPECT_EQ(in.ranks.Get(501, 1), -99.0f);
  EXPECT_EQ(in.ranks.Get(10, 2), 991.0f) << "a study that ranks every probe keeps its ranks";
  EXPECT_EQ(in.ranks.Get(1000, 4), 1000.0f);
}

TEST_F(LoadingTest, MissingIsExactlyMinus99AndTheQuotientStaysDouble) {
  struct Case {
    const char* rank;  // of probe 1; probes 2 .. 6 rank 1 .. 5, one of them missing
    float expected;
  };
  // P = 6 and five present ranks: factor 6/5. Rounding the quotient to float
  // first would give 3.6000001430511475 for a rank of 3.
  const std::vector<Case> cases = {
      {"-99", -99.0f},
      {"-99.0", -99.0f},
      {"-9.9E1", -99.0f},
      {"-0.99d2", -99.0f},
      {"-98", -117.5999984741211f},
      {"0", 0.0f},
      {"3", 3.5999999046325684f},
      {"-99.00001", -118.80001068115234f},
  };
  for (const auto& c : cases) {
    const bool missing = c.expected == -99.0f;
    std::string data = std::string("0 ") + c.rank + " 1\n";
    for (int i = 2; i <= 6; ++i)
      data += "0 " + std::string(i == 2 && !missing ? "-99" : std::to_string(i - 1)) + " 1\n";
    Write("data.txt", data);
    LoadedInputs in = LoadInputs(Params(0, 1, 6));
    EXPECT_EQ(in.ranks.Get(1, 1), c.expected) << c.rank;
  }
}

TEST_F(LoadingTest, LineBreaksAndLabelsCarryNoMeaning) {
  const std::vector<std::pair<const char*, std::string>> layouts = {
      {"one record per line", "1 4 -99 2\n2 1 2 1\n3 2 1 1\n"},
      {"all on one line", "1 4 -99 2 2 1 2 1 3 2 1 1"},
      {"one value per line", "1\n4\n-99\n2\n2\n1\n2\n1\n3\n2\n1\n1\n"},
      {"records split over lines", "1 4\n-99 2 2\n1 2 1 3\n2 1\n1\n"},
      {"other labels", "0 4 -99 2\n0 1 2 1\n-7.5 2 1 1\n"},
      {"CR LF and tail", "1 4 -99 2\r\n2 1 2 1\r\n3 2 1 1 99 junk\r\nmore junk\r\n"},
      {"commas and repeat counts", "1,4,-99,2\n2 1 2 1\n3 2 2*1\n"},
  };
  std::vector<float> reference;
  for (const auto& [name, data] : layouts) {
    Write("data.txt", data);
    LoadedInputs in = LoadInputs(Params(0, 2, 3));
    std::vector<float> all;
    for (std::int32_t i = 1; i <= 3; ++i) {
      const auto r = Row(in.ranks, i, 4);
      all.insert(all.end(), r.begin(), r.end());
    }
    if (reference.empty()) {
      reference = all;
      EXPECT_EQ(reference, (std::vector<float>{4, -99, 2, 1, 1, 3, 1, 2, 2, 1.5f, 1, 3}));
    } else {
      EXPECT_EQ(all, reference) << name;
    }
  }
}

TEST_F(LoadingTest, NullValuesLeaveZerosAndSlashEndsTheRead) {
  Write("data.txt", "1,,3 1\n2 / 9 9 9\n");
  LoadedInputs in = LoadInputs(Params(0, 1, 2));
  // Probe 1: label 1, a null rank (0, a present rank), class 3. Probe 2:
  // label 1, rank 2, and the slash leaves its class 0.
  EXPECT_EQ(Row(in.ranks, 1, 3), (std::vector<float>{0, 3, 1}));
  EXPECT_EQ(Row(in.ranks, 2, 3), (std::vector<float>{2, 0, 2}));
}

TEST_F(LoadingTest, TheRestrictedAnalysisNeitherReadsWeightsNorOpensResults) {
  Write("data.txt", "1 1 1\n");
  LoadedInputs in = LoadInputs(Params(0, 1, 1));
  EXPECT_EQ(in.results, nullptr);
  EXPECT_FALSE(fs::exists(dir_ / "weights.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "output.txt"));
  EXPECT_EQ(in.weights.Get(1), 0.0f);
}

TEST_F(LoadingTest, OtherAnalysisTypesReadPastOneRecordOnly) {
  Write("data.txt", "Probe Study1 Class\n");
  LoadedInputs in = LoadInputs(Params(2, 0, 0));
  EXPECT_EQ(in.results, nullptr);
  EXPECT_EQ(in.ranks.rows(), 0);
  EXPECT_FALSE(fs::exists(dir_ / "weights.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "output.txt"));
}

TEST_F(LoadingTest, NegativeCountsReadNothing) {
  struct Case {
    std::int32_t s, p;
  };
  // Two negative counts must not multiply into a positive number of values.
  for (const Case c : {Case{-5, -3}, Case{3, -1}, Case{-3, 4}, Case{-2, 0}}) {
    Write("data.txt", "1 2 3\n");
    AnalysisParameters d = Params(0, c.s, c.p);
    if (c.s >= -1 || c.p <= 0) {
      LoadedInputs in = LoadInputs(d);
      EXPECT_EQ(in.ranks.rows(), 0) << c.s << " " << c.p;
    } else {
      EXPECT_EQ(Fails(d).SevereNumber(), 161) << c.s << " " << c.p;
    }
  }
}

TEST_F(LoadingTest, StudiesMinusOneLeavesOnlyLineNumbers) {
  Write("data.txt", "7\n8\n9\n");
  Write("weights.txt", "\n");
  LoadedInputs in = LoadInputs(Params(1, -1, 3));
  EXPECT_EQ(Row(in.ranks, 3, 2), (std::vector<float>{3, 0}));
  ASSERT_NE(in.results, nullptr);
}

TEST_F(LoadingTest, Failures) {
  struct Case {
    const char* name;
    const char* data;     // nullptr: no data.txt
    const char* weights;  // nullptr: no weights.txt
    AnalysisParameters params;
    int number;
    int unit;
    const char* file;
  };
  const std::vector<Case> cases = {
      {"missing data", nullptr, "1", Params(1, 1, 1), 24, 10, "data.txt"},
      {"empty data, nothing to read", "", "1", Params(1, 1, 0), 24, 10, "data.txt"},
      {"short data", "1 2 3\n4 5\n", "1", Params(1, 1, 2), 24, 10, "data.txt"},
      {"header line", "Label Study1 Class\n1 2 3\n", "1", Params(1, 1, 1), 59, 10, "data.txt"},
      {"missing weights", "1 2 3\n", nullptr, Params(1, 1, 1), 24, 18, "weights.txt"},
      {"short weights", "1 2 3 4\n", "1\n", Params(1, 2, 1), 24, 18, "weights.txt"},
      {"empty weights, nothing to read", "\n", "", Params(1, 0, 0), 24, 18, "weights.txt"},
      {"line-number column 0", "\n", "\n", Params(1, -2, 1), 161, 0, nullptr},
  };
  for (const auto& c : cases) {
    fs::remove(dir_ / "data.txt");
    fs::remove(dir_ / "weights.txt");
    fs::remove(dir_ / "output.txt");
    if (c.data) Write("data.txt", c.data);
    if (c.weights) Write("weights.txt", c.weights);
    const textio::Termination t = Fails(c.params);
    EXPECT_EQ(t.SevereNumber(), c.number) << c.name;
    if (c.file) {
      const std::string where =
          "unit " + std::to_string(c.unit) + ", file " + (dir_ / c.file).string();
      const std::string line = t.ReportLine();
      EXPECT_EQ(line.substr(line.size() - std::min(line.size(), where.size())), where) << c.name;
      EXPECT_TRUE(fs::exists(dir_ / c.file)) << c.name << ": the open leaves the file behind";
      if (!c.data && c.unit == 10) {
        EXPECT_EQ(Read("data.txt"), "") << c.name;
      }
    }
    // The results file is opened only after the weights have been read.
    EXPECT_EQ(fs::exists(dir_ / "output.txt"), c.number == 161) << c.name;
  }
}

TEST_F(LoadingTest, StepsOnTheirOwn) {
  // Two probes, two studies, straight from a string: value k of probe i in
  // cell (i, k), then the move drops the labels.
  textio::ListReader data(textio::StringSource("10 1 2 3\n20 4 -99 5"), textio::kDataUnit, "d");
  RankMatrix m = ReadRankMatrix(data, 2, 2);
  EXPECT_EQ(Row(m, 2, 4), (std::vector<float>{20, 4, -99, 5}));
  MoveColumnsLeft(m, 2, 2);
  EXPECT_EQ(Row(m, 1, 4), (std::vector<float>{1, 2, 3, 3}));
  const std::vector<float> present = engine::CountPresent(m, 2, 2);
  EXPECT_EQ(present, (std::vector<float>{2, 1}));
  engine::ScaleRanks(m, 2, 2, present);
  StoreLineNumbers(m, 2, 2);
  EXPECT_EQ(Row(m, 1, 4), (std::vector<float>{1, 4, 3, 1}));
  EXPECT_EQ(Row(m, 2, 4), (std::vector<float>{4, -99, 5, 2}));
}

// The matrix's bits, column by column, or the report that ended the read.
struct Loaded {
  std::vector<std::uint32_t> bits;
  std::string report;
  bool operator==(const Loaded&) const = default;
};

Loaded Bits(const RankMatrix& m) {
  Loaded l;
  for (std::int32_t k = 1; k <= m.cols(); ++k) {
    for (std::int32_t i = 1; i <= m.rows(); ++i) {
      const float v = m.Get(i, k);
      std::uint32_t b;
      std::memcpy(&b, &v, sizeof b);
      l.bits.push_back(b);
    }
  }
  return l;
}

// Oracle: the general reader alone, one value at a time into the cells.
Loaded ReadByGeneralReader(const std::string& bytes, std::int32_t p, std::int32_t s) {
  const std::int32_t width = s + 2;
  RankMatrix m(p, width);
  struct Cells : textio::ListReader::RealSink {
    RankMatrix& m;
    std::int32_t width;
    Cells(RankMatrix& matrix, std::int32_t w) : m(matrix), width(w) {}
    void Put(std::size_t index, float value) override {
      const auto i = static_cast<std::int32_t>(index) / width;
      const auto k = static_cast<std::int32_t>(index) % width;
      m.Set(i + 1, k + 1, value);
    }
  } cells(m, width);
  textio::ListReader reader(textio::StringSource(bytes), textio::kDataUnit, "/w/data.txt");
  try {
    reader.ReadReals(static_cast<std::size_t>(p) * static_cast<std::size_t>(width), cells);
  } catch (const textio::Termination& t) {
    return Loaded{{}, t.ReportLine()};
  }
  return Bits(m);
}

// Data files of many records, plain or with one odd token at a given
// record: every thread count reads the same cells, or ends with the same
// report, as the general reader.
TEST_F(LoadingTest, EveryThreadCountReadsDataAsTheGeneralReader) {
  struct Case {
    const char* name;
    const char* odd;  // inserted before record `at`
    std::int32_t at;
    std::int32_t cut;  // bytes dropped at the end
  };
  const std::vector<Case> cases = {
      {"plain", "", 0, 0},
      {"exponent", "1.5e2 ", 1500, 0},
      {"repeat count", "2*7 ", 2999, 0},
      {"null values", ",, ", 10, 0},
      {"slash ends the read", "/ ", 2500, 0},
      {"overflow is 64", "1e39 ", 1200, 0},
      {"word is 59", "probe ", 2000, 0},
      {"logical", "T ", 700, 0},
      {"truncated is 24", "", 0, 40},
      {"last record without LF", "", 0, 1},
  };
  const std::int32_t p = 3000, s = 6;
  std::mt19937 rng(7);
  std::vector<std::string> records;
  for (std::int32_t i = 0; i < p; ++i) {
    std::string r = std::to_string(i + 1);
    for (std::int32_t k = 0; k < s; ++k) {
      r += rng() % 5 == 0 ? " -99" : " " + std::to_string(rng() % 3000);
    }
    r += " " + std::to_string(1 + rng() % 4) + ".0";
    r += rng() % 3 == 0 ? "\r\n" : "\n";
    records.push_back(r);
  }
  for (const Case& c : cases) {
    std::string bytes;
    for (std::int32_t i = 0; i < p; ++i) {
      if (i == c.at) bytes += c.odd;
      bytes += records[static_cast<std::size_t>(i)];
    }
    bytes.resize(bytes.size() - static_cast<std::size_t>(c.cut));
    const Loaded want = ReadByGeneralReader(bytes, p, s);
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
      Loaded got;
      textio::ListReader data(textio::StringSource(bytes, 65536), textio::kDataUnit, "/w/data.txt");
      try {
        got = Bits(ReadRankMatrix(data, p, s, threads));
      } catch (const textio::Termination& t) {
        got.report = t.ReportLine();
      }
      EXPECT_EQ(got, want) << c.name << ", " << threads << " threads: " << got.report;
    }
    // And the whole loading phase on the file (read straight into the moved
    // columns, studies scaled side by side) gives the matrix of the steps
    // one after the other, or the same report, on every thread count.
    Loaded steps = want;
    if (want.report.empty()) {
      textio::ListReader data(textio::StringSource(bytes, 65536), textio::kDataUnit, "/w/data.txt");
      RankMatrix m = ReadRankMatrix(data, p, s);
      MoveColumnsLeft(m, p, s);
      engine::ScaleRanks(m, p, s, engine::CountPresent(m, p, s));
      StoreLineNumbers(m, p, s);
      steps = Bits(m);
    }
    Write("data.txt", bytes);
    Write("weights.txt", "1 1 1 1 1 1\n");
    Loaded first;
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
      Loaded got;
      try {
        got = Bits(LoadInputs(Params(1, s, p), threads).ranks);
      } catch (const textio::Termination& t) {
        got.report = t.ReportLine();
      }
      if (want.report.empty()) {
        EXPECT_EQ(got, steps) << c.name << ", " << threads << " threads";
      } else if (threads == 1) {
        first = got;
      } else {
        EXPECT_EQ(got, first) << c.name << ", " << threads << " threads";
      }
    }
  }
}

}  // namespace
}  // namespace korvelan::driver
