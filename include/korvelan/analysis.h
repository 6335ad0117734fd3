// KORVELAN's analysis as a library call: ranks of genes in several studies
// in, every gene's mean rank, weighted mean rank, heterogeneity Q and their
// permutation P-values out, the same numbers the console program `korvelan`
// writes for the same data and seed.
//
// What happens to the input, in order (as the console program does it):
//   - every rank is stored in single precision (rounded to nearest); a
//     study's present ranks are put on the scale of all genes: r becomes
//     float((genes / n) * r), n the number of genes the study ranked;
//   - genes are put into class-sorted order (highest information class
//     first; within a class the order of the console program's row sort),
//     which is the order the runs shuffle and count in;
//   - R-mean, R-weighted mean and Q of every gene are computed in single
//     precision with the console program's rounding points; each run
//     shuffles every study's present ranks among the genes that study
//     ranked, from one stream of the multiplicative congruential generator
//     (16807, 2^31 - 1) started from `seed`, and compares every gene's
//     observed statistics with the run statistics of all genes of its
//     class. A tie counts on both sides; a NaN on either side on neither.
//
// Results come back in input order. Nothing here prints, exits, installs a
// signal handler, reads the clock (unless ClockSeed() is called) or keeps
// state between calls: any number of analyses may run at once on any
// threads, and each gives the results it gives alone. The thread count
// never changes a result.
#ifndef KORVELAN_ANALYSIS_H_
#define KORVELAN_ANALYSIS_H_

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace korvelan {

// Limits of the analysis (those of the console program).
inline constexpr std::int32_t kMaxGenes = 499999;
inline constexpr std::int32_t kMaxStudies = 98;
inline constexpr std::int32_t kMaxSeed = 2147483646;
// A rank equal to this, or a NaN, means "not ranked by this study".
inline constexpr double kMissingRank = -99.0;

// Every failure other than a bad argument (bad arguments are
// std::invalid_argument): running out of memory, and Cancelled. what() is
// a complete sentence.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The analysis stopped because its stop token asked it to.
class Cancelled : public Error {
 public:
  Cancelled() : Error("the analysis was cancelled") {}
};

// The data of one analysis. The spans must stay valid during the call.
struct Input {
  std::int32_t genes = 0;    // 1 .. kMaxGenes
  std::int32_t studies = 0;  // 1 .. kMaxStudies
  // genes x studies, study after study (column-major: the rank of gene i in
  // study j is ranks[j * genes + i]). A rank is finite and positive, or
  // kMissingRank / NaN for "not ranked".
  std::span<const double> ranks;
  // One weight per study (finite, stored in single precision), or empty for
  // equal weights of 1. Only the R-weighted mean uses them.
  std::span<const double> weights;
  // Each gene's information class, 1 .. genes; or empty: the number of
  // studies that ranked the gene (every gene must then be ranked by at
  // least one study). Genes are compared only within their class.
  std::span<const std::int32_t> classes;
};

// How to run it.
struct RunOptions {
  std::int32_t runs = 1000;  // Monte Carlo runs, at least 1
  // The generator's starting state, 1 .. kMaxSeed: with the same data, the
  // same seed gives the same results (and `korvelan --seed` the same
  // output.txt). There is no default: pass ClockSeed() for the console
  // program's seed of the time of day.
  std::int32_t seed = 0;
  unsigned threads = 1;  // threads to use, the calling one included (0: 1)
  // Called on the calling thread after each run: runs done, runs in all.
  // An exception thrown here ends the analysis and comes out of the call.
  std::function<void(std::int32_t done, std::int32_t total)> progress;
  // Polled at least once per run and by every piece of a run's work (a few
  // milliseconds apart even on the largest inputs); once a stop is
  // requested the call throws Cancelled.
  std::stop_token stop;
};

// The six P-values, in the column order of the console program's results.
enum PValueIndex : int {
  kRmeanRight = 0,
  kRmeanLeft = 1,
  kRwmeanRight = 2,
  kRwmeanLeft = 3,
  kQRight = 4,
  kQLeft = 5,
};
inline constexpr int kPValues = 6;

struct GeneResult {
  std::int32_t info_class = 0;  // information class
  // The gene's row in class-sorted order, 1-based: its record's position in
  // the console program's output.txt, and the gene id its restricted
  // analysis asks for.
  std::int32_t row = 0;
  // Observed statistics, single precision as computed. A gene ranked by no
  // study has R-mean NaN, R-weighted mean 0 and Q 0.
  float r_mean = 0;
  float r_wmean = 0;
  float q = 0;
  // Exceedance counts: run values at least (right) or at most (left) the
  // observed value, over all runs and all genes of the class.
  std::array<std::int64_t, kPValues> count{};
  // The comparisons behind each of the six counts: runs x class size (a
  // statistic whose observed value is NaN has count 0 against it).
  std::int64_t total = 0;
  // count / total in double, rounded to single precision: exactly the value
  // the console program writes. (count + 1) / (total + 1) is the
  // plus-one form.
  std::array<float, kPValues> p{};
};

struct Results {
  std::vector<GeneResult> genes;  // input order
  std::int32_t runs = 0;
  std::int32_t seed = 0;
  std::int32_t classes = 0;  // the largest class
};

// The main analysis. Throws std::invalid_argument (the message names the
// argument, and the gene and study where one is at fault) for: genes or
// studies outside their limits, ranks/weights/classes of the wrong size, a
// rank that is neither finite and positive nor missing, a weight that is
// not finite or beyond single precision, a class outside 1 .. genes (or,
// without classes, a gene no study ranked), runs < 1, a seed outside
// 1 .. kMaxSeed. Throws Error when memory runs out, Cancelled when stopped.
Results Analyze(const Input& input, const RunOptions& options);

// The restricted heterogeneity analysis of one gene: its Q judged against
// the run Q of the genes of one class whose run R-mean lies within `limit`
// of the gene's observed R-mean (both bounds inclusive, rounded to single
// precision).
struct RestrictedQuery {
  std::int32_t gene = 0;             // 0-based index in input order
  std::int32_t reference_class = 0;  // 1 .. the largest class; 0: the gene's own
  std::int32_t limit = 0;
};

struct RestrictedResult {
  float r_mean = 0;  // the gene's observed R-mean and Q
  float q = 0;
  std::int64_t band = 0;   // in-band run values over all runs
  std::int64_t right = 0;  // of those, run Q >= the gene's Q
  std::int64_t left = 0;   // run Q <= the gene's Q
  double p_right = 0;      // right / band, left / band in double (NaN when
  double p_left = 0;       // no run value fell in the band)
};

// Weights play no part here. Throws what Analyze throws, and
// std::invalid_argument for a gene or class outside the data and for a
// limit at or above the gene's R-mean (the band's lower bound would not be
// positive) when the reference class has genes.
RestrictedResult AnalyzeRestricted(const Input& input, const RestrictedQuery& query,
                                   const RunOptions& options);

// The console program's seed of the current local time of day: 10000 hour
// + 100 minute + second + 1 (123457 at midnight).
std::int32_t ClockSeed();

}  // namespace korvelan

#endif  // KORVELAN_ANALYSIS_H_
