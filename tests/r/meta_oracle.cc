// The R package's reference: results.tsv from korvelan::RunMeta and
// korvelan::ResultsTsv for studies read from a text file, so that the R
// tests can compare korvelan()'s data.frame with the library's own text.
//
//   r_meta_oracle SHAPE FILE RUNS SEED PVALUES ABSENT [WEIGHTS]
//
// SHAPE lists: FILE has lines "study<TAB>gene", each study's genes best
// first; long: lines "study<TAB>gene<TAB>value" (a LongTable); table: a
// header "gene<TAB>study..." and lines "gene<TAB>value...", NA for not
// ranked (a GeneTable). PVALUES plus-one or exact, ABSENT below or missing,
// WEIGHTS comma-separated. Numbers are read with from_chars, which gives
// back exactly the double R wrote with 17 significant digits.
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
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
  if (text == "NA") return std::numeric_limits<double>::quiet_NaN();
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("not a number: \"" + text + "\"");
  }
  return value;
}

std::vector<korvelan::Study> ReadStudies(const std::string& shape, const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::invalid_argument("cannot open " + path);
  std::string line;
  if (shape == "table") {
    korvelan::GeneTable table;
    std::getline(in, line);
    std::vector<std::string> header = Split(line, '\t');
    table.studies.assign(header.begin() + 1, header.end());
    std::vector<std::vector<double>> columns(table.studies.size());
    while (std::getline(in, line)) {
      std::vector<std::string> f = Split(line, '\t');
      if (f.size() != header.size()) throw std::invalid_argument("short line: " + line);
      table.genes.push_back(f[0]);
      for (std::size_t j = 0; j < columns.size(); ++j) columns[j].push_back(Number(f[j + 1]));
    }
    for (const auto& c : columns) table.values.insert(table.values.end(), c.begin(), c.end());
    return korvelan::StudiesFromTable(table);
  }
  korvelan::LongTable table;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 2) throw std::invalid_argument("short line: " + line);
    table.study.push_back(f[0]);
    table.gene.push_back(f[1]);
    table.value.push_back(shape == "long" ? Number(f.at(2)) : 0.0);
  }
  std::vector<korvelan::Study> studies = korvelan::StudiesFromLong(table);
  if (shape == "lists") {
    for (korvelan::Study& s : studies) s.values.clear();  // ranked by position
  } else if (shape != "long") {
    throw std::invalid_argument("unknown shape " + shape);
  }
  return studies;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7 || argc > 8) {
    std::cerr << "usage: r_meta_oracle SHAPE FILE RUNS SEED PVALUES ABSENT [WEIGHTS]\n";
    return 2;
  }
  try {
    const std::vector<korvelan::Study> studies = ReadStudies(argv[1], argv[2]);
    korvelan::MetaOptions options;
    options.runs = std::stoi(argv[3]);
    options.seed = std::stoi(argv[4]);
    options.pvalues =
        std::string(argv[5]) == "exact" ? korvelan::PValues::kExact : korvelan::PValues::kPlusOne;
    options.absent =
        std::string(argv[6]) == "below" ? korvelan::Absent::kBelow : korvelan::Absent::kMissing;
    if (argc == 8) {
      for (const std::string& w : Split(argv[7], ',')) options.weights.push_back(Number(w));
    }
    std::cout << korvelan::ResultsTsv(korvelan::RunMeta(studies, options));
  } catch (const std::exception& e) {
    std::cerr << "r_meta_oracle: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
