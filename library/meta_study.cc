// One study's list to ranks: duplicates resolved, then positions or values
// ranked with ties sharing the average of the ranks they span.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "library/meta_internal.h"
#include "textio/utf8.h"

namespace korvelan::meta {

void Invalid(const std::string& message) { throw std::invalid_argument("korvelan: " + message); }

bool IsUsableId(const std::string& id) {
  return !id.empty() && id.find_first_of("\t\r\n\"") == std::string::npos;
}

void CheckUtf8(const std::string& text, const std::string& what) {
  const std::size_t bad = textio::FirstInvalidUtf8(text);
  if (bad != std::string::npos) {
    Invalid(what + " is not UTF-8 text (byte " + std::to_string(bad + 1) + ")");
  }
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// True when key a ranks before key b (NaN, "not ranked", never does).
bool Better(double a, double b, Order order) {
  return order == Order::kSmallestFirst ? a < b : a > b;
}

std::string Where(const Study& study, std::size_t position) {
  return "study \"" + study.name + "\", position " + std::to_string(position + 1);
}

// A study's distinct ids in their first order, each with its key (its
// value, or its position for a plain list) after the duplicates rule.
struct DistinctKeys {
  std::vector<std::string_view> ids;  // into the study's ids
  // id -> its place in ids (a whole number, exact in double): the map
  // becomes the ranked study's map from id to rank.
  textio::IdMap<double> slot;
  std::vector<double> key;
};

DistinctKeys KeysOf(const Study& study, Duplicates duplicates) {
  const bool by_value = !study.values.empty();
  DistinctKeys d{{}, textio::IdMap<double>(study.ids.size()), {}};
  std::vector<double> sum;  // kMean: sum and count of the non-NaN keys
  std::vector<double> count;
  std::vector<std::size_t> first_position;
  for (std::size_t i = 0; i < study.ids.size(); ++i) {
    const std::string& id = study.ids[i];
    if (!IsUsableId(id)) {
      Invalid(Where(study, i) + ": the id \"" + id +
              "\" is empty or holds a tab, line end or double quote");
    }
    // The message only for an id that fails: it costs a few strings.
    if (textio::FirstInvalidUtf8(id) != std::string::npos)
      CheckUtf8(id, Where(study, i) + ": the id \"" + id + "\"");
    const double k = by_value ? study.values[i] : static_cast<double>(i + 1);
    auto [it, added] = d.slot->emplace(id, static_cast<double>(d.ids.size()));
    if (added) {
      d.ids.push_back(id);
      d.key.push_back(k);
      sum.push_back(std::isnan(k) ? 0.0 : k);
      count.push_back(std::isnan(k) ? 0.0 : 1.0);
      first_position.push_back(i);
      continue;
    }
    const auto s = static_cast<std::size_t>(it->second);
    switch (duplicates) {
      case Duplicates::kRefuse:
        Invalid("study \"" + study.name + "\" lists \"" + id + "\" twice, at positions " +
                std::to_string(first_position[s] + 1) + " and " + std::to_string(i + 1) +
                " (the duplicates option chooses first, best or mean)");
      case Duplicates::kFirst: break;
      case Duplicates::kBest:
        if (!std::isnan(k) && (std::isnan(d.key[s]) || Better(k, d.key[s], study.order))) {
          d.key[s] = k;
        }
        break;
      case Duplicates::kMean:
        if (!std::isnan(k)) {
          sum[s] += k;
          count[s] += 1.0;
        }
        break;
    }
  }
  if (duplicates == Duplicates::kMean) {
    for (std::size_t s = 0; s < d.key.size(); ++s) {
      d.key[s] = count[s] > 0 ? sum[s] / count[s] : kNaN;
    }
  }
  return d;
}

}  // namespace

RankedStudy RankOneStudy(const Study& study, Duplicates duplicates) {
  if (!study.values.empty() && study.values.size() != study.ids.size()) {
    Invalid("study \"" + study.name + "\" has " + std::to_string(study.ids.size()) + " ids but " +
            std::to_string(study.values.size()) + " values");
  }
  DistinctKeys d = KeysOf(study, duplicates);
  const std::vector<double>& key = d.key;
  std::vector<std::size_t> order;
  for (std::size_t s = 0; s < key.size(); ++s) {
    if (!std::isnan(key[s])) order.push_back(s);
  }
  if (order.size() < 2) {
    Invalid("study \"" + study.name + "\" ranks " + std::to_string(order.size()) +
            (order.size() == 1 ? " id" : " ids") + "; a study must rank at least 2");
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return Better(key[a], key[b], study.order);
  });
  // Ties span positions a .. b (1-based) and share (a + b) / 2: a whole
  // number or a half, exact in double.
  std::vector<double> rank(key.size(), kNaN);
  for (std::size_t a = 0; a < order.size();) {
    std::size_t b = a;
    while (b + 1 < order.size() && key[order[b + 1]] == key[order[a]]) ++b;
    const double r = static_cast<double>(a + 1 + b + 1) / 2.0;
    for (std::size_t k = a; k <= b; ++k) rank[order[k]] = r;
    a = b + 1;
  }
  // Each id's place becomes its rank, in the map's own nodes.
  for (auto& [id, value] : *d.slot) value = rank[static_cast<std::size_t>(value)];
  return RankedStudy{std::move(d.ids), std::move(d.slot), order.size()};
}

}  // namespace korvelan::meta

namespace korvelan {

std::vector<double> BenjaminiHochberg(std::span<const double> p) {
  std::vector<double> q(p.size(), std::numeric_limits<double>::quiet_NaN());
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (!std::isnan(p[i])) order.push_back(i);
  }
  // Largest first with a running minimum; m / rank, then times p, as R's
  // p.adjust does it, so the q-values agree bit for bit.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return p[a] > p[b]; });
  const auto m = static_cast<double>(order.size());
  double running = 1.0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const auto rank = static_cast<double>(order.size() - k);
    running = std::min(running, m / rank * p[order[k]]);
    q[order[k]] = running;
  }
  return q;
}

}  // namespace korvelan
