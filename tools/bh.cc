#include "tools/bh.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace korvelan::tools {

std::vector<double> BenjaminiHochberg(std::span<const double> p_values) {
  std::vector<double> q(p_values.size(), std::numeric_limits<double>::quiet_NaN());
  std::vector<std::size_t> order;
  order.reserve(p_values.size());
  for (std::size_t i = 0; i < p_values.size(); ++i) {
    if (!std::isnan(p_values[i])) order.push_back(i);
  }
  // Largest first, walking down with a running minimum. Tied P-values end
  // with the same q-value whichever of them comes first.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return p_values[a] > p_values[b]; });
  const auto m = static_cast<double>(order.size());
  double running = 1.0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const auto rank = static_cast<double>(order.size() - k);
    running = std::min(running, m / rank * p_values[order[k]]);
    q[order[k]] = running;
  }
  return q;
}

}  // namespace korvelan::tools
