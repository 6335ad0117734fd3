// The meta-analysis layer: studies to one rank matrix, korvelan::Analyze on
// the genes that take part, and the results table with NA, plus-one
// P-values and q-values.
#include "korvelan/meta.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "engine/in_order.h"
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
      Invalid(
          "the weights add up to more than single precision holds (about 3.4e38); scale them down");
    }
  }
  if (options.min_studies < 1 || options.min_studies > static_cast<std::int32_t>(studies.size())) {
    Invalid("min_studies must be from 1 to the number of studies (" +
            std::to_string(studies.size()) + "), not " + std::to_string(options.min_studies));
  }
  meta::CheckEffects(studies, options);
  if (options.runs < 1) Invalid("runs must be at least 1, not " + std::to_string(options.runs));
  if (options.seed < 1 || options.seed > kMaxSeed) {
    Invalid("the seed must be a whole number from 1 to " + std::to_string(kMaxSeed) + ", not " +
            std::to_string(options.seed));
  }
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

namespace {

// The rank matrix of the genes that take part, study after study, and what
// each row is: a named gene's index, or none for a gene without an id.
struct Matrix {
  std::vector<std::size_t> named;      // the named rows, byte order of their ids
  std::int64_t unnamed = 0;            // rows after them, genes without ids
  std::vector<double> ranks;           // (named + unnamed) x studies
  std::vector<std::int32_t> measured;  // per named gene: studies with a rank
};

// Below the list: the remaining places n + 1 .. N tied at their mean (a
// whole number or a half, exact in single precision up to kMaxUniverse).
double RankBelow(const meta::RankedStudy& ranked, const meta::StudyUniverse& su) {
  return (static_cast<double>(ranked.ranked) + 1.0 + static_cast<double>(su.size)) / 2.0;
}

// The named genes' ranks into r.ranks and r.n_studies; the studies that
// measured each gene into `measured`.
std::vector<std::int32_t> NamedRanks(const std::vector<meta::RankedStudy>& ranked,
                                     const meta::Universe& u, MetaResults& r) {
  const std::size_t genes = r.genes.size();
  r.ranks.assign(genes * ranked.size(), kNaN);
  r.n_studies.assign(genes, 0);
  std::vector<std::int32_t> measured(genes, 0);
  for (std::size_t j = 0; j < ranked.size(); ++j) {
    const meta::StudyUniverse& su = u.studies[j];
    const bool below =
        su.absent == Absent::kBelow && ranked[j].ranked < static_cast<std::size_t>(su.size);
    const double rank_below = RankBelow(ranked[j], su);
    for (std::size_t i = 0; i < genes; ++i) {
      double& cell = r.ranks[j * genes + i];
      const double rank = ranked[j].RankOf(r.genes[i]);
      if (!std::isnan(rank)) {
        cell = rank;
        ++r.n_studies[i];
      } else if (below && (!su.members || su.members->contains(r.genes[i]))) {
        cell = rank_below;
      }
      if (!std::isnan(cell)) ++measured[i];
    }
  }
  return measured;
}

// Unnamed gene k (0-based) lies in the universe of every study whose
// unnamed part reaches past k: the studies that measure it never fall as
// k grows, so the rows take min_studies as a prefix.
std::int64_t UnnamedTakingPart(const meta::Universe& u, std::int32_t min_studies) {
  std::vector<std::int64_t> reach;
  for (const meta::StudyUniverse& su : u.studies) {
    if (su.unnamed > 0) reach.push_back(su.unnamed);
  }
  if (reach.size() < static_cast<std::size_t>(min_studies)) return 0;
  std::sort(reach.rbegin(), reach.rend());
  return reach[static_cast<std::size_t>(min_studies) - 1];
}

Matrix BuildMatrix(const std::vector<meta::RankedStudy>& ranked, const meta::Universe& u,
                   const MetaOptions& options, MetaResults& r) {
  Matrix m;
  m.measured = NamedRanks(ranked, u, r);
  const std::size_t genes = r.genes.size();
  r.analysed.assign(genes, false);
  for (std::size_t i = 0; i < genes; ++i) {
    if (m.measured[i] >= options.min_studies) {
      m.named.push_back(i);
      r.analysed[i] = true;
    }
  }
  // Byte order of the ids: korvelan-prepare's data.txt order, on which the
  // class sort, and so every P-value, depends.
  std::sort(m.named.begin(), m.named.end(),
            [&](std::size_t a, std::size_t b) { return r.genes[a] < r.genes[b]; });
  m.unnamed = UnnamedTakingPart(u, options.min_studies);
  const auto rows = static_cast<std::int64_t>(m.named.size()) + m.unnamed;
  if (rows == 0) {
    Invalid("no gene is measured by at least " + std::to_string(options.min_studies) +
            (options.min_studies == 1 ? " study" : " studies"));
  }
  if (rows > kMaxGenes) {
    Invalid(std::to_string(rows) + " genes take part (" + std::to_string(m.named.size()) +
            " with ids, " + std::to_string(m.unnamed) + " more of a universe); at most " +
            std::to_string(kMaxGenes) +
            " can (require more studies per gene, or give a smaller universe)");
  }
  const auto n = static_cast<std::size_t>(rows);
  m.ranks.assign(n * ranked.size(), kNaN);
  for (std::size_t j = 0; j < ranked.size(); ++j) {
    double* column = m.ranks.data() + j * n;
    for (std::size_t k = 0; k < m.named.size(); ++k) column[k] = r.ranks[j * genes + m.named[k]];
    const meta::StudyUniverse& su = u.studies[j];
    const double rank_below = RankBelow(ranked[j], su);
    const auto reach = static_cast<std::size_t>(std::min(su.unnamed, m.unnamed));
    std::fill(column + m.named.size(), column + m.named.size() + reach, rank_below);
  }
  return m;
}

// The P-values of one gene from its counts.
std::array<double, kPValues> PValuesOf(const GeneResult& g, bool has_q, PValues kind) {
  std::array<double, kPValues> p;
  p.fill(kNaN);
  for (int t = 0; t < kPValues; ++t) {
    const auto u = static_cast<std::size_t>(t);
    if (!has_q && (t == kQRight || t == kQLeft)) continue;
    const float observed = t < kRwmeanRight ? g.r_mean : t < kQRight ? g.r_wmean : g.q;
    if (kind == PValues::kExact) {
      p[u] = g.p[u];
    } else if (g.total > 0 && !std::isnan(observed)) {
      // A NaN statistic is compared with nothing: its count of 0 is no
      // evidence, so plus-one gives NA there, not 1 / (total + 1).
      p[u] = (static_cast<double>(g.count[u]) + 1.0) / (static_cast<double>(g.total) + 1.0);
    }
  }
  return p;
}

void FillResults(const Matrix& m, const Results& out, const MetaOptions& options, MetaResults& r) {
  const std::size_t genes = r.genes.size();
  r.info_class.assign(genes, 0);
  r.r_mean.assign(genes, kNaN);
  r.r_wmean.assign(genes, kNaN);
  r.q.assign(genes, kNaN);
  r.total.assign(genes, 0);
  // The P-value columns run on past the named genes into the genes without
  // ids, which count in the q-values' number of tests and are then dropped.
  const std::size_t rows = out.genes.size();
  std::array<std::vector<double>, kPValues> p;
  for (int t = 0; t < kPValues; ++t) {
    p[static_cast<std::size_t>(t)].assign(genes + rows - m.named.size(), kNaN);
    r.count[static_cast<std::size_t>(t)].assign(genes, 0);
  }
  for (std::size_t k = 0; k < rows; ++k) {
    const GeneResult& g = out.genes[k];
    const bool has_name = k < m.named.size();
    const std::size_t i = has_name ? m.named[k] : genes + (k - m.named.size());
    // With one rank Q is 0 by construction and says nothing.
    const bool has_q = has_name ? m.measured[i] >= 2 : g.info_class >= 2;
    const std::array<double, kPValues> gp = PValuesOf(g, has_q, options.pvalues);
    for (std::size_t t = 0; t < kPValues; ++t) p[t][i] = gp[t];
    if (!has_name) continue;
    r.info_class[i] = g.info_class;
    r.r_mean[i] = g.r_mean;
    r.r_wmean[i] = g.r_wmean;
    r.total[i] = g.total;
    if (has_q) r.q[i] = g.q;
    for (std::size_t t = 0; t < kPValues; ++t) {
      if (has_q || (t != kQRight && t != kQLeft)) r.count[t][i] = g.count[t];
    }
  }
  engine::EachInOrder(static_cast<std::size_t>(kPValues), options.threads, [&](std::size_t t) {
    r.q_values[t] = BenjaminiHochberg(p[t]);
    r.q_values[t].resize(genes);
    p[t].resize(genes);
    r.p[t] = std::move(p[t]);
  });
}

}  // namespace

MetaResults RunMeta(const std::vector<Study>& studies, const MetaOptions& options) {
  CheckStudies(studies, options);
  // The studies ranked side by side; a failure is the first study's, as
  // one after another.
  std::vector<std::optional<meta::RankedStudy>> each(studies.size());
  engine::EachInOrder(studies.size(), options.threads, [&](std::size_t j) {
    each[j].emplace(meta::RankOneStudy(studies[j], options.duplicates));
  });
  std::vector<meta::RankedStudy> ranked;
  ranked.reserve(studies.size());
  for (std::optional<meta::RankedStudy>& r : each) ranked.push_back(std::move(*r));
  const meta::Universe u = meta::ResolveUniverse(studies, ranked, options);

  MetaResults r;
  r.genes = u.genes;
  for (const Study& s : studies) r.studies.push_back(s.name);
  r.universe =
      options.universe_size > 0 ? options.universe_size : static_cast<std::int64_t>(r.genes.size());
  for (std::size_t j = 0; j < studies.size(); ++j) {
    const meta::StudyUniverse& su = u.studies[j];
    const bool given =
        su.absent == Absent::kBelow && (su.members || su.own || options.universe_size > 0);
    r.study_facts.push_back(
        {static_cast<std::int64_t>(ranked[j].ids.size()), su.size, su.absent, given});
  }
  const Matrix m = BuildMatrix(ranked, u, options, r);

  Input input;
  input.genes = static_cast<std::int32_t>(m.named.size() + static_cast<std::size_t>(m.unnamed));
  input.studies = static_cast<std::int32_t>(studies.size());
  input.ranks = m.ranks;
  input.weights = options.weights;
  RunOptions run;
  run.runs = options.runs;
  run.seed = options.seed;
  run.threads = options.threads;
  run.progress = options.progress;
  run.stop = options.stop;
  const Results out = Analyze(input, run);

  FillResults(m, out, options, r);
  meta::FillDirections(studies, options, r);
  r.runs = out.runs;
  r.seed = out.seed;
  r.classes = out.classes;
  r.genes_analysed = input.genes;
  r.unnamed = m.unnamed;
  r.pvalues = options.pvalues;
  r.version = kVersion;
  return r;
}

}  // namespace korvelan
