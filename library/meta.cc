// The meta-analysis layer: studies to one rank matrix, korvelan::Analyze on
// the genes that take part, and the results table with NA, plus-one
// P-values and q-values.
#include "korvelan/meta.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "korvelan/version.h"
#include "library/meta_internal.h"

namespace korvelan {

using meta::Invalid;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void CheckStudies(const std::vector<Study>& studies, const MetaOptions& options) {
  if (studies.size() < 2 || studies.size() > static_cast<std::size_t>(kMaxStudies)) {
    Invalid("a meta-analysis takes 2 to " + std::to_string(kMaxStudies) + " studies, not " +
            std::to_string(studies.size()));
  }
  std::unordered_set<std::string> names;
  for (std::size_t j = 0; j < studies.size(); ++j) {
    const std::string& name = studies[j].name;
    if (!meta::IsUsableId(name)) {
      Invalid("the name of study " + std::to_string(j + 1) + " (\"" + name +
              "\") is empty or holds a tab, line end or double quote");
    }
    meta::CheckUtf8(name, "the name of study " + std::to_string(j + 1) + " (\"" + name + "\")");
    if (!names.insert(name).second) Invalid("two studies are named \"" + name + "\"");
  }
  if (!options.weights.empty() && options.weights.size() != studies.size()) {
    Invalid("there are " + std::to_string(options.weights.size()) + " weights for " +
            std::to_string(studies.size()) + " studies");
  }
  // A zero or negative weight can make a gene's weights add up to 0, and
  // its R-weighted mean NaN: no P-value would mean anything there.
  // The engine holds each weight as a float and adds a gene's weights in
  // single precision, study by study: 1e-300 would be 0 there, and weights
  // whose float sum overflows would give every gene an R-weighted mean of 0.
  float sum = 0.0f;
  for (std::size_t j = 0; j < options.weights.size(); ++j) {
    const double w = options.weights[j];
    const auto single = static_cast<float>(w);
    if (!(w > 0) || single == 0 || !std::isfinite(single)) {
      Invalid("the weight of study \"" + studies[j].name +
              "\" must be a positive number (single precision), not " + FormatNumber(w));
    }
    sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(single));
    if (!std::isfinite(sum)) {
      Invalid("the weights add up to more than single precision holds (about 3.4e38); scale them down");
    }
  }
  if (options.min_studies < 1 || options.min_studies > static_cast<std::int32_t>(studies.size())) {
    Invalid("min_studies must be from 1 to the number of studies (" +
            std::to_string(studies.size()) + "), not " + std::to_string(options.min_studies));
  }
  if (options.runs < 1) Invalid("runs must be at least 1, not " + std::to_string(options.runs));
  if (options.seed < 1 || options.seed > kMaxSeed) {
    Invalid("the seed must be a whole number from 1 to " + std::to_string(kMaxSeed) + ", not " +
            std::to_string(options.seed));
  }
  if (options.universe_size < 0) {
    Invalid("the universe size must not be negative, not " + std::to_string(options.universe_size));
  }
  if (options.universe_size > kMaxUniverse ||
      options.universe_ids.size() > static_cast<std::size_t>(kMaxUniverse)) {
    Invalid("the universe may hold at most " + std::to_string(kMaxUniverse) + " genes");
  }
  if (options.universe_size > 0 && !options.universe_ids.empty()) {
    Invalid("give the universe as a size or as a list of ids, not both");
  }
}

// The genes: first seen across the studies, then universe ids no study
// listed; with a universe list, every listed id must belong to it.
std::vector<std::string> GeneUnion(const std::vector<Study>& studies,
                                   const std::vector<meta::RankedStudy>& ranked,
                                   const MetaOptions& options) {
  std::vector<std::string> genes;
  std::unordered_set<std::string> seen;
  std::unordered_set<std::string> universe;
  for (std::size_t u = 0; u < options.universe_ids.size(); ++u) {
    const std::string& id = options.universe_ids[u];
    if (!meta::IsUsableId(id)) {
      Invalid("universe id " + std::to_string(u + 1) + " (\"" + id +
              "\") is empty or holds a tab, line end or double quote");
    }
    meta::CheckUtf8(id, "universe id " + std::to_string(u + 1) + " (\"" + id + "\")");
    if (!universe.insert(id).second) Invalid("the universe lists \"" + id + "\" twice");
  }
  for (std::size_t j = 0; j < ranked.size(); ++j) {
    for (const std::string& id : ranked[j].ids) {
      if (!universe.empty() && !universe.contains(id)) {
        Invalid("study \"" + studies[j].name + "\" lists \"" + id + "\", which is not in the universe");
      }
      if (seen.insert(id).second) genes.push_back(id);
    }
  }
  for (const std::string& id : options.universe_ids) {
    if (seen.insert(id).second) genes.push_back(id);
  }
  return genes;
}

}  // namespace

std::vector<Study> StudiesFromTable(const GeneTable& table) {
  const std::size_t genes = table.genes.size();
  if (table.values.size() != genes * table.studies.size()) {
    Invalid("the table holds " + std::to_string(table.values.size()) + " values; " +
            std::to_string(genes) + " genes x " + std::to_string(table.studies.size()) +
            " studies need " + std::to_string(genes * table.studies.size()));
  }
  std::vector<Study> studies(table.studies.size());
  for (std::size_t j = 0; j < studies.size(); ++j) {
    studies[j].name = table.studies[j];
    studies[j].ids = table.genes;
    const auto begin = table.values.begin() + static_cast<std::ptrdiff_t>(j * genes);
    studies[j].values.assign(begin, begin + static_cast<std::ptrdiff_t>(genes));
    studies[j].order = table.order;
  }
  return studies;
}

std::vector<Study> StudiesFromLong(const LongTable& table) {
  if (table.gene.size() != table.study.size() || table.value.size() != table.study.size()) {
    Invalid("the long table's columns differ in length: " + std::to_string(table.study.size()) +
            " studies, " + std::to_string(table.gene.size()) + " genes, " +
            std::to_string(table.value.size()) + " values");
  }
  std::vector<Study> studies;
  std::unordered_map<std::string, std::size_t> index;
  for (std::size_t k = 0; k < table.study.size(); ++k) {
    auto [it, added] = index.emplace(table.study[k], studies.size());
    if (added) {
      studies.emplace_back();
      studies.back().name = table.study[k];
      studies.back().order = table.order;
    }
    Study& s = studies[it->second];
    s.ids.push_back(table.gene[k]);
    s.values.push_back(table.value[k]);
  }
  return studies;
}

MetaResults RunMeta(const std::vector<Study>& studies, const MetaOptions& options) {
  CheckStudies(studies, options);
  std::vector<meta::RankedStudy> ranked;
  ranked.reserve(studies.size());
  for (const Study& s : studies) ranked.push_back(meta::RankOneStudy(s, options.duplicates));

  MetaResults r;
  r.genes = GeneUnion(studies, ranked, options);
  for (const Study& s : studies) r.studies.push_back(s.name);
  const std::size_t genes = r.genes.size();
  const std::size_t n_studies = studies.size();
  std::int64_t universe = static_cast<std::int64_t>(genes);
  if (options.universe_size > 0) {
    if (options.universe_size < universe) {
      Invalid("the universe size " + std::to_string(options.universe_size) + " is smaller than the " +
              std::to_string(genes) + " genes the studies list");
    }
    universe = options.universe_size;
  }
  r.universe = universe;

  // The rank matrix, and per gene the studies that listed it and the ranks
  // it has in the matrix ("below" included).
  r.ranks.assign(genes * n_studies, kNaN);
  r.n_studies.assign(genes, 0);
  std::vector<std::int32_t> in_matrix(genes, 0);
  for (std::size_t j = 0; j < n_studies; ++j) {
    // Below the list: the remaining places n + 1 .. N tied at their mean.
    const double below =
        (static_cast<double>(ranked[j].ranked) + 1.0 + static_cast<double>(universe)) / 2.0;
    for (std::size_t i = 0; i < genes; ++i) {
      double& cell = r.ranks[j * genes + i];
      const auto it = ranked[j].rank.find(r.genes[i]);
      if (it != ranked[j].rank.end()) {
        cell = it->second;
        ++r.n_studies[i];
      } else if (options.absent == Absent::kBelow &&
                 ranked[j].ranked < static_cast<std::size_t>(universe)) {
        cell = below;
      }
      if (!std::isnan(cell)) ++in_matrix[i];
    }
  }

  // Genes that take part, in byte order of their ids (korvelan-prepare's
  // data.txt order: the class sort, and so every P-value, depends on it).
  std::vector<std::size_t> part;
  r.analysed.assign(genes, false);
  for (std::size_t i = 0; i < genes; ++i) {
    if (r.n_studies[i] >= options.min_studies) {
      part.push_back(i);
      r.analysed[i] = true;
    }
  }
  if (part.empty()) {
    Invalid("no gene is ranked by at least " + std::to_string(options.min_studies) +
            (options.min_studies == 1 ? " study" : " studies"));
  }
  std::sort(part.begin(), part.end(),
            [&](std::size_t a, std::size_t b) { return r.genes[a] < r.genes[b]; });
  if (part.size() > static_cast<std::size_t>(kMaxGenes)) {
    Invalid(std::to_string(part.size()) + " genes take part; at most " + std::to_string(kMaxGenes) +
            " can (require more studies per gene)");
  }
  std::vector<double> matrix(part.size() * n_studies);
  for (std::size_t j = 0; j < n_studies; ++j) {
    for (std::size_t k = 0; k < part.size(); ++k) {
      matrix[j * part.size() + k] = r.ranks[j * genes + part[k]];
    }
  }
  Input input;
  input.genes = static_cast<std::int32_t>(part.size());
  input.studies = static_cast<std::int32_t>(n_studies);
  input.ranks = matrix;
  input.weights = options.weights;
  RunOptions run;
  run.runs = options.runs;
  run.seed = options.seed;
  run.threads = options.threads;
  run.progress = options.progress;
  run.stop = options.stop;
  const Results out = Analyze(input, run);

  r.klass.assign(genes, 0);
  r.r_mean.assign(genes, kNaN);
  r.r_wmean.assign(genes, kNaN);
  r.q.assign(genes, kNaN);
  r.total.assign(genes, 0);
  for (int t = 0; t < kPValues; ++t) {
    r.p[static_cast<std::size_t>(t)].assign(genes, kNaN);
    r.count[static_cast<std::size_t>(t)].assign(genes, 0);
  }
  for (std::size_t k = 0; k < part.size(); ++k) {
    const std::size_t i = part[k];
    const GeneResult& g = out.genes[k];
    r.klass[i] = g.klass;
    r.r_mean[i] = g.r_mean;
    r.r_wmean[i] = g.r_wmean;
    r.total[i] = g.total;
    // With one rank Q is 0 by construction and says nothing.
    const bool has_q = in_matrix[i] >= 2;
    if (has_q) r.q[i] = g.q;
    for (int t = 0; t < kPValues; ++t) {
      const auto u = static_cast<std::size_t>(t);
      if (!has_q && (t == kQRight || t == kQLeft)) continue;
      r.count[u][i] = g.count[u];
      const float observed = t < kRwmeanRight ? g.r_mean : t < kQRight ? g.r_wmean : g.q;
      if (options.pvalues == PValues::kExact) {
        r.p[u][i] = g.p[u];
      } else if (g.total > 0 && !std::isnan(observed)) {
        // A NaN statistic is compared with nothing: its count of 0 is no
        // evidence, so plus-one gives NA there, not 1 / (total + 1).
        r.p[u][i] = (static_cast<double>(g.count[u]) + 1.0) / (static_cast<double>(g.total) + 1.0);
      }
    }
  }
  for (std::size_t t = 0; t < kPValues; ++t) r.q_values[t] = BenjaminiHochberg(r.p[t]);
  r.runs = out.runs;
  r.seed = out.seed;
  r.classes = out.classes;
  r.genes_analysed = static_cast<std::int32_t>(part.size());
  r.pvalues = options.pvalues;
  r.version = kVersion;
  return r;
}

}  // namespace korvelan
