// Five genes ranked by three studies: the consumer prints each gene's
// R-mean and its left-sided P-value for the R-mean (small mean ranks).
#include <korvelan/korvelan.h>

#include <cstdio>
#include <vector>

int main() {
  const double nr = korvelan::kMissingRank;
  // genes x studies, study after study.
  const std::vector<double> ranks = {1, 2, 3, 4,  5,   // study 1
                                     2, 1, 3, 5,  4,   // study 2
                                     1, 3, 2, nr, 4};  // study 3 did not rank gene 4
  korvelan::Input input;
  input.genes = 5;
  input.studies = 3;
  input.ranks = ranks;
  korvelan::RunOptions options;
  options.runs = 1000;
  options.seed = 12345;
  const korvelan::Results results = korvelan::Analyze(input, options);
  std::printf("KORVELAN %s, seed %d\n", korvelan::kVersion, results.seed);
  for (std::size_t i = 0; i < results.genes.size(); ++i) {
    const korvelan::GeneResult& g = results.genes[i];
    std::printf("gene %zu: class %d, R-mean %.4f, P(R-mean, left) %.4f (%lld of %lld)\n", i + 1,
                g.info_class, g.r_mean, g.p[korvelan::kRmeanLeft],
                static_cast<long long>(g.count[korvelan::kRmeanLeft]),
                static_cast<long long>(g.total));
  }
  return results.genes.size() == 5 ? 0 : 1;
}
