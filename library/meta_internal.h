// Pieces of the meta-analysis layer shared by its source files (not
// installed): one study's ranks and the results table's statistics.
#ifndef KORVELAN_LIBRARY_META_INTERNAL_H_
#define KORVELAN_LIBRARY_META_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "korvelan/meta.h"
#include "textio/id_map.h"

namespace korvelan::meta {

[[noreturn]] void Invalid(const std::string& message);

// Not empty, and free of tabs, line ends and double quotes: an id that
// stands as one field in results.tsv and in every front end's table.
bool IsUsableId(const std::string& id);

// Throws std::invalid_argument "<what> is not UTF-8 text (byte K)" unless
// `text` is well-formed UTF-8: names and ids go into run records and
// pages that must be text, and every front end shows them the same way.
void CheckUtf8(const std::string& text, const std::string& what);

// One study after duplicates are resolved and its ids ranked: rank of each
// ranked id (1-based, ties averaged, exact halves), by id.
// The ids are views into the Study's own: valid while the study is.
struct RankedStudy {
  std::vector<std::string_view> ids;  // every distinct id, first seen
  textio::IdMap<double> rank;         // every distinct id; NaN: not ranked
  std::size_t ranked = 0;

  // The id's rank; NaN when the study does not list it or does not rank it.
  double RankOf(std::string_view id) const {
    const auto it = rank->find(id);
    return it == rank->end() ? std::numeric_limits<double>::quiet_NaN() : it->second;
  }
};

// Throws std::invalid_argument naming the study and the id and positions
// (1-based) at fault.
RankedStudy RankOneStudy(const Study& study, Duplicates duplicates);

// What one study ranks. A study whose absent genes are missing ranks its
// ranked ids (size = their number). One whose absent genes are below its
// list ranks its whole universe: the ids of `members`, or, without them,
// every named gene and the first `unnamed` genes of the pool no id names.
struct StudyUniverse {
  Absent absent = Absent::kMissing;
  std::int64_t size = 0;
  std::shared_ptr<const std::unordered_set<std::string>> members;
  std::int64_t unnamed = 0;
  bool own = false;  // the study's own universe, not MetaOptions'
};

struct Universe {
  // Every gene with an id: first seen across the studies, then the ids of
  // the universe lists no study names (the rows of results.tsv).
  std::vector<std::string> genes;
  std::vector<StudyUniverse> studies;
  std::int64_t unnamed = 0;  // the pool: the largest of the studies' unnamed
};

// Throws std::invalid_argument for a universe that cannot hold its study's
// list (too small, an id outside it, an id twice in it).
Universe ResolveUniverse(const std::vector<Study>& studies, const std::vector<RankedStudy>& ranked,
                         const MetaOptions& options);

// Per distinct id of `study` its value in `per_id` (one per id, or empty:
// an empty map), repeated ids merged as their ranks are: the first row's,
// the best-ranked row's, or the mean of the rows' values that are not NaN.
// Throws std::invalid_argument naming the study and `what` for a length
// other than the ids'.
std::unordered_map<std::string, double> MergePerId(const Study& study,
                                                   const std::vector<double>& per_id,
                                                   Duplicates duplicates, const std::string& what);

// Throws std::invalid_argument for MetaOptions::effects that do not match
// the studies (their number, or a study's ids).
void CheckEffects(const std::vector<Study>& studies, const MetaOptions& options);

// MetaResults' direction and fold-change fields (after the P-values).
void FillDirections(const std::vector<Study>& studies, const MetaOptions& options, MetaResults& r);

}  // namespace korvelan::meta

#endif  // KORVELAN_LIBRARY_META_INTERNAL_H_
