// korvelan_meta_tsv: the Python tests' reference. Reads studies in one of
// the three shapes korvelan.analyze accepts, runs korvelan::RunMeta and
// writes korvelan::ResultsTsv on standard output.
//
//   korvelan_meta_tsv lists|table|long FILE [--absent below|missing]
//     [--universe N] [--universe-ids FILE] [--duplicates refuse|first|best|mean]
//     [--min-studies K]
//     [--pvalues plus-one|exact] [--weights W1,W2,...] [--runs R] [--seed S]
//     [--threads T] [--time]
//
// lists: lines "study<TAB>gene", each study's genes best first; table: a
// header "gene<TAB>study..." and one line per gene; long: lines
// "study<TAB>gene<TAB>value". NA is a missing value. --time writes the
// seconds RunMeta took on standard error.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "korvelan/meta.h"

namespace {

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep)) fields.push_back(field);
  if (!line.empty() && line.back() == sep) fields.emplace_back();
  return fields;
}

double Number(const std::string& text) {
  if (text == "NA" || text.empty()) return std::numeric_limits<double>::quiet_NaN();
  return std::strtod(text.c_str(), nullptr);
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<korvelan::Study> ReadStudies(const std::string& mode, const std::string& path) {
  const std::vector<std::string> lines = Lines(path);
  if (mode == "lists") {
    std::vector<korvelan::Study> studies;
    for (const std::string& line : lines) {
      const auto f = Split(line, '\t');
      if (studies.empty() || studies.back().name != f.at(0)) {
        studies.emplace_back();
        studies.back().name = f.at(0);
      }
      studies.back().ids.push_back(f.at(1));
    }
    return studies;
  }
  if (mode == "table") {
    korvelan::GeneTable table;
    const auto header = Split(lines.at(0), '\t');
    table.studies.assign(header.begin() + 1, header.end());
    std::vector<std::vector<double>> columns(table.studies.size());
    for (std::size_t k = 1; k < lines.size(); ++k) {
      const auto f = Split(lines[k], '\t');
      table.genes.push_back(f.at(0));
      for (std::size_t j = 0; j < columns.size(); ++j) columns[j].push_back(Number(f.at(j + 1)));
    }
    for (const auto& c : columns) table.values.insert(table.values.end(), c.begin(), c.end());
    return korvelan::StudiesFromTable(table);
  }
  if (mode == "long") {
    korvelan::LongTable table;
    for (const std::string& line : lines) {
      const auto f = Split(line, '\t');
      table.study.push_back(f.at(0));
      table.gene.push_back(f.at(1));
      table.value.push_back(Number(f.at(2)));
    }
    return korvelan::StudiesFromLong(table);
  }
  throw std::runtime_error("unknown mode " + mode);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 3) throw std::runtime_error("usage: korvelan_meta_tsv MODE FILE [options]");
    const std::vector<korvelan::Study> studies = ReadStudies(argv[1], argv[2]);
    korvelan::MetaOptions options;
    bool time = false;
    for (int a = 3; a < argc; ++a) {
      const std::string arg = argv[a];
      if (arg == "--time") {
        time = true;
        continue;
      }
      if (a + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      const std::string value = argv[++a];
      if (arg == "--absent") {
        options.absent = value == "below" ? korvelan::Absent::kBelow : korvelan::Absent::kMissing;
      } else if (arg == "--universe") {
        options.universe_size = std::stoll(value);
      } else if (arg == "--universe-ids") {
        options.universe_ids = Lines(value);
      } else if (arg == "--duplicates") {
        options.duplicates = value == "first"  ? korvelan::Duplicates::kFirst
                             : value == "best" ? korvelan::Duplicates::kBest
                             : value == "mean" ? korvelan::Duplicates::kMean
                                               : korvelan::Duplicates::kRefuse;
      } else if (arg == "--min-studies") {
        options.min_studies = std::stoi(value);
      } else if (arg == "--pvalues") {
        options.pvalues = value == "exact" ? korvelan::PValues::kExact : korvelan::PValues::kPlusOne;
      } else if (arg == "--weights") {
        for (const std::string& w : Split(value, ',')) options.weights.push_back(Number(w));
      } else if (arg == "--runs") {
        options.runs = std::stoi(value);
      } else if (arg == "--seed") {
        options.seed = std::stoi(value);
      } else if (arg == "--threads") {
        options.threads = static_cast<unsigned>(std::stoul(value));
      } else {
        throw std::runtime_error("unknown option " + arg);
      }
    }
    const auto start = std::chrono::steady_clock::now();
    const korvelan::MetaResults results = korvelan::RunMeta(studies, options);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cout << korvelan::ResultsTsv(results);
    if (time) std::cerr << took.count() << "\n";
    return std::cout.flush() ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "korvelan_meta_tsv: " << e.what() << "\n";
    return 1;
  }
}
