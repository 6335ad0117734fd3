// Each study's universe: the genes it ranks, listed or placed below its
// list, and the pool of genes no id names when a universe is only a size.
#include <algorithm>
#include <memory>
#include <unordered_set>

#include "library/meta_internal.h"
#include "textio/utf8.h"

namespace korvelan::meta {

namespace {

using IdSet = std::unordered_set<std::string>;

// The ids of a universe list, checked; `whose` names it in messages.
std::shared_ptr<const IdSet> UniverseSet(const std::vector<std::string>& ids,
                                         const std::string& whose) {
  auto set = std::make_shared<IdSet>();
  set->reserve(ids.size());
  for (std::size_t u = 0; u < ids.size(); ++u) {
    const std::string& id = ids[u];
    if (!IsUsableId(id)) {
      Invalid(whose + " id " + std::to_string(u + 1) + " (\"" + id +
              "\") is empty or holds a tab, line end or double quote");
    }
    if (textio::FirstInvalidUtf8(id) != std::string::npos)
      CheckUtf8(id, whose + " id " + std::to_string(u + 1) + " (\"" + id + "\")");
    if (!set->insert(id).second) Invalid(whose + " lists \"" + id + "\" twice");
  }
  return set;
}

void CheckSize(std::int64_t size, const std::string& whose) {
  if (size < 0) Invalid(whose + " size must not be negative, not " + std::to_string(size));
  if (size > kMaxUniverse)
    Invalid(whose + " may hold at most " + std::to_string(kMaxUniverse) + " genes");
}

}  // namespace

namespace {

// One study's universe before the named genes are known: its absent mode,
// and a size or ids of its own or the common ones, checked against its ids.
StudyUniverse StudyOwn(const Study& study, const RankedStudy& ranked, const StudySettings& s,
                       const MetaOptions& options, const std::shared_ptr<const IdSet>& common_ids) {
  StudyUniverse u;
  u.absent = s.absent.value_or(options.absent);
  u.own = s.universe_size != 0 || !s.universe_ids.empty();
  const std::string whose = "the universe of study \"" + study.name + "\"";
  if (u.own && u.absent != Absent::kBelow) {
    Invalid("study \"" + study.name +
            "\" gives a universe, which applies only to genes absent below the list");
  }
  if (s.universe_size != 0 && !s.universe_ids.empty()) {
    Invalid("give the universe of study \"" + study.name +
            "\" as a size or as a list of ids, not both");
  }
  CheckSize(s.universe_size, whose);
  if (s.universe_ids.size() > static_cast<std::size_t>(kMaxUniverse))
    CheckSize(kMaxUniverse + 1, whose);
  u.size = u.own ? s.universe_size : options.universe_size;
  u.members = !u.own                   ? common_ids
              : s.universe_ids.empty() ? nullptr
                                       : UniverseSet(s.universe_ids, whose);
  // The common universe holds every gene, so a table's ids must be in it
  // too, although it ranks only them.
  for (const std::string_view id : ranked.ids) {
    if (u.members && !u.members->contains(std::string(id))) {
      Invalid("study \"" + study.name + "\" lists \"" + std::string(id) + "\", which is not in " +
              (u.own ? "its universe" : "the universe"));
    }
  }
  if (u.absent != Absent::kBelow) {
    u.size = static_cast<std::int64_t>(ranked.ranked);
    u.members = nullptr;
    return u;
  }
  if (u.members) {
    u.size = static_cast<std::int64_t>(u.members->size());
  } else if (u.own && static_cast<std::int64_t>(ranked.ids.size()) > u.size) {
    // (A common size too small for the named genes is refused later.)
    Invalid("study \"" + study.name + "\" lists " + std::to_string(ranked.ids.size()) +
            " ids, more than its universe of " + std::to_string(u.size) + " genes");
  }
  return u;
}

// The named genes: first seen across the studies, then the ids of the
// universe lists that no study names.
std::vector<std::string> NamedGenes(const std::vector<RankedStudy>& ranked,
                                    const MetaOptions& options,
                                    const std::vector<StudyUniverse>& universes) {
  std::vector<std::string> genes;
  // Views into the studies' and options' ids, which outlive the call.
  // Room for the longest study's ids: studies mostly share their ids, and
  // a union beyond that grows the map as it comes.
  std::size_t longest = 0;
  for (const RankedStudy& r : ranked) longest = std::max(longest, r.ids.size());
  textio::IdMap<bool> seen(longest);
  auto add = [&](const auto& ids) {
    for (const std::string_view id : ids) {
      if (seen->emplace(id, true).second) genes.emplace_back(id);
    }
  };
  for (const RankedStudy& r : ranked) add(r.ids);
  add(options.universe_ids);
  for (std::size_t j = 0; j < universes.size(); ++j) {
    if (universes[j].absent == Absent::kBelow && universes[j].own)
      add(options.study_settings[j].universe_ids);
  }
  return genes;
}

}  // namespace

Universe ResolveUniverse(const std::vector<Study>& studies, const std::vector<RankedStudy>& ranked,
                         const MetaOptions& options) {
  const std::string common = "the universe";
  CheckSize(options.universe_size, common);
  if (options.universe_ids.size() > static_cast<std::size_t>(kMaxUniverse))
    CheckSize(kMaxUniverse + 1, common);
  if (options.universe_size > 0 && !options.universe_ids.empty()) {
    Invalid("give the universe as a size or as a list of ids, not both");
  }
  if (!options.study_settings.empty() && options.study_settings.size() != studies.size()) {
    Invalid("there are settings for " + std::to_string(options.study_settings.size()) +
            " studies, not " + std::to_string(studies.size()));
  }
  std::shared_ptr<const IdSet> common_ids;
  if (!options.universe_ids.empty()) common_ids = UniverseSet(options.universe_ids, common);
  const StudySettings none;
  Universe out;
  for (std::size_t j = 0; j < studies.size(); ++j) {
    const StudySettings& s = options.study_settings.empty() ? none : options.study_settings[j];
    out.studies.push_back(StudyOwn(studies[j], ranked[j], s, options, common_ids));
  }
  out.genes = NamedGenes(ranked, options, out.studies);

  // A universe given as a size holds every named gene (its lists were
  // drawn from the same genes) and, beyond them, genes no id names: the
  // first size - named of one pool shared by all such studies.
  const auto named = static_cast<std::int64_t>(out.genes.size());
  if (options.universe_size > 0 && options.universe_size < named) {
    Invalid("the universe size " + std::to_string(options.universe_size) + " is smaller than the " +
            std::to_string(named) + " genes the studies list");
  }
  for (std::size_t j = 0; j < studies.size(); ++j) {
    StudyUniverse& u = out.studies[j];
    if (u.absent != Absent::kBelow || u.members) continue;
    if (u.size == 0) u.size = named;
    if (u.size < named) {
      Invalid((u.own ? "the universe size of study \"" + studies[j].name + "\""
                     : std::string("the universe size")) +
              " " + std::to_string(u.size) + " is smaller than the " + std::to_string(named) +
              " genes the studies list");
    }
    u.unnamed = u.size - named;
    out.unnamed = std::max(out.unnamed, u.unnamed);
  }
  return out;
}

}  // namespace korvelan::meta
