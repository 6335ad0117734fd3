#include "bench/workload.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

namespace korvelan::bench {
namespace {

// A uniform double in [0, 1) from the top 53 bits of the engine.
double Uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

// Standard normal by Box-Muller: portable, unlike std::normal_distribution.
double Normal(std::mt19937_64& rng) {
  double u1 = Uniform(rng);
  double u2 = Uniform(rng);
  if (u1 <= 0.0) u1 = 0x1.0p-53;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::uint64_t WriteWorkload(const Workload& w, const std::string& directory) {
  const auto P = static_cast<std::size_t>(w.probes);
  const auto S = static_cast<std::size_t>(w.studies);
  std::mt19937_64 rng(w.seed);

  std::vector<std::int32_t> cls(P);
  std::vector<bool> signal(P);
  for (std::size_t i = 0; i < P; ++i) {
    cls[i] = 1 + static_cast<std::int32_t>(rng() % static_cast<std::uint64_t>(w.classes));
    signal[i] = Uniform(rng) < w.signal_fraction;
  }

  // rank[j * P + i]: rank of probe i in study j, 0 when missing.
  std::vector<std::int32_t> rank(P * S, 0);
  std::vector<std::pair<double, std::size_t>> scored;
  for (std::size_t j = 0; j < S; ++j) {
    scored.clear();
    for (std::size_t i = 0; i < P; ++i) {
      if (Uniform(rng) < w.missing) continue;
      double score = Normal(rng) - (signal[i] ? w.signal_strength : 0.0);
      scored.emplace_back(score, i);
    }
    std::sort(scored.begin(), scored.end());
    for (std::size_t r = 0; r < scored.size(); ++r)
      rank[j * P + scored[r].second] = static_cast<std::int32_t>(r + 1);
  }

  std::string data;
  data.reserve(P * (S + 2) * 7);
  char buf[32];
  for (std::size_t i = 0; i < P; ++i) {
    data += std::to_string(i + 1);
    for (std::size_t j = 0; j < S; ++j) {
      const std::int32_t r = rank[j * P + i];
      std::snprintf(buf, sizeof buf, " %d", r == 0 ? -99 : r);
      data += buf;
    }
    data += ' ';
    data += std::to_string(cls[i]);
    data += '\n';
  }
  WriteFile(directory + "/data.txt", data);

  std::string weights;
  for (std::size_t j = 0; j < S; ++j) weights += j == 0 ? "1.0" : " 1.0";
  weights += '\n';
  WriteFile(directory + "/weights.txt", weights);

  WriteFile(directory + "/answers.txt",
            "1\n" + std::to_string(w.studies) + "\n" + std::to_string(w.probes) + "\n" +
                std::to_string(w.classes) + "\n" + std::to_string(w.runs) + "\n");
  return data.size();
}

}  // namespace korvelan::bench
