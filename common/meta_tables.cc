// korvelan-meta's study tables: columns chosen, rows ranked and counted,
// and what the screen says about them.
#include <cstdint>
#include <string_view>

#include "korvelan/options.h"

#include "common/meta_input.h"
#include "common/table.h"
#include "common/table_columns.h"
#include "textio/id_map.h"

namespace korvelan::tools {
namespace {

ColumnRequest RequestOf(const MetaReadOptions& options) {
  ColumnRequest request;
  request.gene = options.rule.gene_column;
  request.first = options.rule.first;
  if (!options.value_given) return request;
  if (options.rule.kind == RankingRule::Kind::kStatistic) {
    request.statistic = options.rule.value_column;
  } else {
    request.pvalue = options.rule.value_column;
    request.sign_by = options.rule.sign_column;
  }
  return request;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

Study ParseStudyTable(std::string text, const std::string& source, const std::string& name,
                      const MetaReadOptions& options, TableFacts& facts) {
  return StudyOfTable(ParseTable(std::move(text), source, options.delimiter), name, options, facts);
}

Study StudyOfTable(const Table& table, const std::string& name, const MetaReadOptions& options,
                   TableFacts& facts) {
  const ColumnChoice choice = ChooseColumns(table.columns, RequestOf(options), table.source);
  RowRules rules;
  rules.skip_incomplete = true;
  rules.repeats = options.duplicates.value_or(Duplicates::kMean) != Duplicates::kRefuse;
  rules.split = options.split_ids;
  rules.fold_change = choice.fold_change;
  const RankedRows ranked = RankTableRows(table, choice.rule, rules);

  facts = TableFacts{};
  facts.study = name;
  facts.columns = DescribeChoice(choice);
  facts.ranking = DescribeRanking(choice);
  facts.fold_change = choice.fold_change;
  facts.rows = ranked.table_rows;
  facts.no_id = ranked.no_id;
  facts.no_value = ranked.no_value;
  facts.split = ranked.split;
  facts.repeated = ranked.repeated;
  Study study;
  study.name = name;
  study.order = Order::kSmallestFirst;
  const bool signed_rule = choice.rule.kind != RankingRule::Kind::kPValue;
  // Rank 1 goes to the largest effect with --first largest: the most up gene.
  facts.effects.first_is_up = choice.rule.first == RankFirst::kLargest;
  study.ids.reserve(ranked.rows.size());
  study.values.reserve(ranked.rows.size());
  if (signed_rule) facts.effects.effects.reserve(ranked.rows.size());
  for (const RankedRow& row : ranked.rows) {
    if (signed_rule) facts.effects.effects.push_back(row.effect);
    // Fold changes come with the direction columns: a table ranked by its
    // p-values alone keeps the columns of unsigned results.
    if (signed_rule && !choice.fold_change.empty())
      facts.effects.fold_changes.push_back(row.fold_change);
    study.ids.emplace_back(row.id);
    // Every kept row has a rank (incomplete rows are skipped); the meta
    // layer merges repeated ids by these ranks and ranks the ids anew.
    study.values.push_back(static_cast<double>(row.half_rank) / 2.0);
  }
  return study;
}

std::vector<StudyEffects> EffectsOf(const MetaInput& input) {
  std::vector<StudyEffects> effects(input.studies.size());
  bool any = false;
  for (const TableFacts& t : input.tables) {
    for (std::size_t j = 0; j < input.studies.size(); ++j) {
      if (input.studies[j].name != t.study) continue;
      effects[j] = t.effects;
      any = any || !t.effects.effects.empty() || !t.effects.fold_changes.empty();
    }
  }
  if (!any) effects.clear();
  return effects;
}

std::vector<std::string> DescribeTables(const MetaInput& input) {
  std::vector<std::string> lines;
  std::size_t repeated = 0;
  for (const TableFacts& t : input.tables) {
    std::string line = "  " + t.study + ": " + t.columns + "; " + Plural(t.rows, "row", "rows");
    if (t.no_id > 0) line += ", " + Plural(t.no_id, "row", "rows") + " without an id skipped";
    if (t.no_value > 0)
      line += ", " + Plural(t.no_value, "row", "rows") + " without a value skipped";
    if (t.split > 0) line += ", " + Plural(t.split, "joined id", "joined ids") + " split";
    if (t.repeated > 0)
      line += ", " + Plural(t.repeated, "repeated id", "repeated ids") + " merged";
    lines.push_back(line);
    repeated += t.repeated;
  }
  if (repeated > 0) {
    const char* rule = input.duplicates == Duplicates::kFirst  ? "the first row counts"
                       : input.duplicates == Duplicates::kBest ? "the best-ranked row counts"
                                                               : "the mean of their ranks counts";
    lines.push_back("  ids on several rows (probes of one gene): " + std::string(rule) +
                    " (--duplicates " + std::string(WordOf(input.duplicates)) +
                    "; --duplicates first, best or mean chooses)");
  }
  return lines;
}

std::vector<std::string> OverlapWarnings(const std::vector<Study>& studies) {
  // How many studies list each id, in one table of views into the studies'
  // ids: the last study that counted an id marks it, so a study's repeats
  // count once; a second pass marks again to count each study's distinct
  // ids and how many of them another study lists.
  struct Listed {
    std::size_t studies = 0;
    std::size_t counted_by = SIZE_MAX;
    std::size_t shared_by = SIZE_MAX;
  };
  std::size_t all = 0;
  for (const Study& s : studies) all += s.ids.size();
  textio::IdMap<Listed> listed(all);
  for (std::size_t j = 0; j < studies.size(); ++j) {
    for (const std::string_view id : studies[j].ids) {
      Listed& l = (*listed)[id];
      if (l.counted_by != j) ++l.studies;
      l.counted_by = j;
    }
  }
  std::vector<std::string> warnings;
  for (std::size_t j = 0; j < studies.size() && studies.size() > 1; ++j) {
    std::size_t shared = 0;
    std::size_t own = 0;
    for (const std::string_view id : studies[j].ids) {
      Listed& l = listed->find(id)->second;
      if (l.shared_by == j) continue;
      l.shared_by = j;
      ++own;
      shared += l.studies > 1;
    }
    // Fewer than a tenth, in integers: 10 x shared < own.
    if (10 * shared < own) {
      warnings.push_back("study \"" + studies[j].name + "\" shares only " + std::to_string(shared) +
                         " of its " + std::to_string(own) +
                         " ids with the other studies; are its ids of the same kind (symbols, "
                         "Ensembl ids, probes)?");
    }
  }
  return warnings;
}

}  // namespace korvelan::tools
