// The library's analysis: validates the caller's data, lays it out as the
// console program's loading would, and runs the engine's one analysis on it
// without anything process-wide (no console, no error services, no
// process-wide random stream, no clock).
#include "korvelan/analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "engine/analysis.h"
#include "engine/model.h"
#include "engine/scaling.h"
#include "numeric/random.h"
#include "textio/termination.h"

namespace korvelan {

namespace {

[[noreturn]] void Invalid(const std::string& message) {
  throw std::invalid_argument("korvelan: " + message);
}

std::string GeneAndStudy(std::size_t gene, std::size_t study) {
  return "gene " + std::to_string(gene + 1) + " in study " + std::to_string(study + 1);
}

bool FiniteInFloat(double v) { return std::isfinite(v) && std::isfinite(static_cast<float>(v)); }

void CheckRunOptions(const RunOptions& options) {
  if (options.runs < 1) Invalid("runs must be at least 1, not " + std::to_string(options.runs));
  if (options.seed < 1 || options.seed > kMaxSeed) {
    Invalid("seed must be a whole number from 1 to " + std::to_string(kMaxSeed) + ", not " +
            std::to_string(options.seed) + " (ClockSeed() gives one from the time of day)");
  }
}

// The checked data, laid out as the console program's loading leaves it:
// scaled ranks, the class column S + 1 and the line numbers S + 2.
struct Prepared {
  AnalysisParameters params;
  RankMatrix ranks;
  StudyWeights weights;
};

// The sizes of the input's arrays against its counts.
void CheckShape(const Input& in) {
  if (in.genes < 1 || in.genes > kMaxGenes) {
    Invalid("the number of genes must be from 1 to " + std::to_string(kMaxGenes) + ", not " +
            std::to_string(in.genes));
  }
  if (in.studies < 1 || in.studies > kMaxStudies) {
    Invalid("the number of studies must be from 1 to " + std::to_string(kMaxStudies) + ", not " +
            std::to_string(in.studies));
  }
  const auto genes = static_cast<std::size_t>(in.genes);
  const auto studies = static_cast<std::size_t>(in.studies);
  if (in.ranks.size() != genes * studies) {
    Invalid("ranks holds " + std::to_string(in.ranks.size()) + " values; " +
            std::to_string(in.genes) + " genes x " + std::to_string(in.studies) + " studies need " +
            std::to_string(genes * studies));
  }
  if (!in.weights.empty() && in.weights.size() != studies) {
    Invalid("weights holds " + std::to_string(in.weights.size()) + " values for " +
            std::to_string(in.studies) + " studies");
  }
  if (!in.classes.empty() && in.classes.size() != genes) {
    Invalid("classes holds " + std::to_string(in.classes.size()) + " values for " +
            std::to_string(in.genes) + " genes");
  }
}

// The studies' ranks into columns 1 .. S (missing ones as the console
// program's missing mark); returns how many studies rank each gene.
std::vector<std::int32_t> FillRanks(const Input& in, RankMatrix& ranks) {
  const auto genes = static_cast<std::size_t>(in.genes);
  std::vector<std::int32_t> ranked(genes, 0);
  for (std::size_t j = 0; j < static_cast<std::size_t>(in.studies); ++j) {
    float* column = ranks.column(static_cast<std::int32_t>(j) + 1);
    for (std::size_t i = 0; i < genes; ++i) {
      const double r = in.ranks[j * genes + i];
      if (std::isnan(r) || r == kMissingRank) {
        column[i] = kMissing;
        continue;
      }
      if (!(r > 0) || !FiniteInFloat(r)) {
        Invalid("the rank of " + GeneAndStudy(i, j) +
                " must be a finite positive number, or NaN or -99 for none");
      }
      column[i] = static_cast<float>(r);
      ++ranked[i];
    }
  }
  return ranked;
}

// Each gene's information class into `column`: the caller's, or the number
// of studies that rank it. Returns the largest class.
std::int32_t FillClasses(const Input& in, const std::vector<std::int32_t>& ranked, float* column) {
  std::int32_t largest = 0;
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    std::int32_t k = ranked[i];
    if (!in.classes.empty()) {
      k = in.classes[i];
      if (k < 1 || k > in.genes) {
        Invalid("the class of gene " + std::to_string(i + 1) + " must be from 1 to " +
                std::to_string(in.genes) + ", not " + std::to_string(k));
      }
    } else if (k == 0) {
      Invalid("gene " + std::to_string(i + 1) +
              " is ranked by no study, so it has no information class; leave it out or "
              "give classes");
    }
    column[i] = static_cast<float>(k);
    largest = std::max(largest, k);
  }
  return largest;
}

// The studies' weights, 1 each when none are given.
StudyWeights WeightsOf(const Input& in) {
  StudyWeights weights;
  for (std::size_t j = 0; j < static_cast<std::size_t>(in.studies); ++j) {
    double w = 1.0;
    if (!in.weights.empty()) {
      w = in.weights[j];
      if (!FiniteInFloat(w)) {
        Invalid("the weight of study " + std::to_string(j + 1) +
                " must be a finite single-precision number");
      }
    }
    weights.Set(static_cast<std::int32_t>(j) + 1, static_cast<float>(w));
  }
  return weights;
}

Prepared Prepare(const Input& in, std::int32_t analysis_type, std::int32_t runs) {
  CheckShape(in);
  Prepared p;
  const std::int32_t s = in.studies;
  p.ranks = RankMatrix(in.genes, s + 2);
  const std::vector<std::int32_t> ranked = FillRanks(in, p.ranks);
  const std::int32_t largest = FillClasses(in, ranked, p.ranks.column(s + 1));
  p.weights = WeightsOf(in);
  engine::ScaleRanks(p.ranks, in.genes, s, engine::CountPresent(p.ranks, in.genes, s));
  float* line = p.ranks.column(s + 2);
  for (std::int32_t i = 0; i < in.genes; ++i) line[i] = static_cast<float>(i + 1);

  p.params.analysis_type = analysis_type;
  p.params.studies = s;
  p.params.probes = in.genes;
  p.params.classes = largest;
  p.params.runs = runs;
  p.params.class_column = s + 1;
  return p;
}

engine::AnalysisSetup Setup(const RunOptions& options) {
  engine::AnalysisSetup setup;
  setup.draws = engine::DrawStream::Seeded(options.seed);
  setup.threads = std::max(options.threads, 1u);
  setup.checks = engine::SortChecks::kNone;
  return setup;
}

engine::AnalysisHooks Hooks(const RunOptions& options) {
  engine::AnalysisHooks hooks;
  hooks.runs.stop = options.stop;
  if (options.progress) {
    hooks.runs.after_run = [&options](std::int32_t n) { options.progress(n, options.runs); };
  }
  return hooks;
}

// The engine's failures as the library's.
template <class F>
auto Guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const engine::Cancelled&) {
    throw Cancelled();
  } catch (const textio::Termination& t) {
    if (t.SevereNumber() == static_cast<int>(textio::Severe::kNoMemory)) {
      throw Error("korvelan: not enough memory for the analysis");
    }
    throw Error("korvelan: the analysis failed: " + t.ReportLine());
  } catch (const std::bad_alloc&) {
    throw Error("korvelan: not enough memory for the analysis");
  }
}

constexpr int kStatisticOf[kPValues] = {engine::kRmean,  engine::kRmean, engine::kRwmean,
                                        engine::kRwmean, engine::kQ,     engine::kQ};
constexpr bool kRightOf[kPValues] = {true, false, true, false, true, false};

}  // namespace

Results Analyze(const Input& input, const RunOptions& options) {
  CheckRunOptions(options);
  return Guarded([&] {
    Prepared p = Prepare(input, engine::kMainAnalysis, options.runs);
    const engine::AnalysisOutcome out =
        engine::RunAnalysis(p.params, p.ranks, p.weights, Setup(options), Hooks(options));
    const engine::ExceedanceCounter& counter = *out.counter;
    Results results;
    results.runs = options.runs;
    results.seed = options.seed;
    results.classes = p.params.classes;
    results.genes.resize(static_cast<std::size_t>(input.genes));
    const std::int32_t s = p.params.studies;
    const float* info_class = p.ranks.column(s + 1);
    const float* line = p.ranks.column(s + 2);
    for (std::int32_t row = 1; row <= input.genes; ++row) {
      const auto r = static_cast<std::size_t>(row - 1);
      GeneResult& g = results.genes[static_cast<std::size_t>(line[r]) - 1];
      g.info_class = static_cast<std::int32_t>(info_class[r]);
      g.row = row;
      g.r_mean = out.observed.rmean.span()[r];
      g.r_wmean = out.observed.rwmean.span()[r];
      g.q = out.observed.q.span()[r];
      g.total = counter.total(g.info_class);
      for (int t = 0; t < kPValues; ++t) {
        const int stat = kStatisticOf[t];
        g.count[static_cast<std::size_t>(t)] =
            kRightOf[t] ? counter.right(stat, row) : counter.left(stat, row);
        // Rounded to float once, as the results file holds it.
        g.p[static_cast<std::size_t>(t)] =
            static_cast<float>(counter.PValue(stat, kRightOf[t], row));
      }
    }
    return results;
  });
}

RestrictedResult AnalyzeRestricted(const Input& input, const RestrictedQuery& query,
                                   const RunOptions& options) {
  CheckRunOptions(options);
  return Guarded([&] {
    Prepared p = Prepare(input, engine::kRestrictedAnalysis, options.runs);
    if (query.gene < 0 || query.gene >= input.genes) {
      Invalid("gene " + std::to_string(query.gene) + " is not a 0-based index of the " +
              std::to_string(input.genes) + " genes");
    }
    const std::int32_t s = p.params.studies;
    const float* info_class = p.ranks.column(s + 1);
    const std::int32_t own = static_cast<std::int32_t>(info_class[query.gene]);
    const std::int32_t reference = query.reference_class == 0 ? own : query.reference_class;
    if (reference < 1 || reference > p.params.classes) {
      Invalid("the reference class must be from 1 to " + std::to_string(p.params.classes) +
              " (the largest class), not " + std::to_string(reference));
    }
    // The console program names the gene by its row after the class sort;
    // the same sort tells which row that is.
    const std::vector<std::int32_t> order =
        engine::ClassSortOrder(p.params.class_column, p.ranks, engine::SortChecks::kNone);
    const auto at = std::find(order.begin(), order.end(), query.gene + 1);
    p.params.gene_id = static_cast<std::int32_t>(at - order.begin()) + 1;
    p.params.gene_class = reference;
    p.params.limit = query.limit;
    std::optional<engine::AnalysisOutcome> out;
    try {
      out.emplace(
          engine::RunAnalysis(p.params, p.ranks, StudyWeights{}, Setup(options), Hooks(options)));
    } catch (const engine::LimitProblem&) {
      Invalid("the restriction limit " + std::to_string(query.limit) +
              " is at or above the R-mean of gene " + std::to_string(query.gene) +
              ": the band's lower bound must be positive");
    }
    RestrictedResult r;
    const auto row = static_cast<std::size_t>(p.params.gene_id - 1);
    r.r_mean = out->observed.rmean.span()[row];
    r.q = out->observed.q.span()[row];
    r.band = out->restricted->band;
    r.right = out->restricted->right;
    r.left = out->restricted->left;
    r.p_right = out->restricted->p.right;
    r.p_left = out->restricted->p.left;
    return r;
  });
}

std::int32_t ClockSeed() { return numeric::ClockSeed(); }

}  // namespace korvelan
