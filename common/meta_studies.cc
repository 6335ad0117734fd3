#include "common/meta_studies.h"

namespace korvelan::tools {

StudiesRead ReadStudies(const std::vector<std::filesystem::path>& inputs,
                        const MetaReadOptions& options, const std::filesystem::path& sheet,
                        const SheetDefaults& defaults) {
  StudiesRead read;
  if (sheet.empty()) {
    read.input = ReadMetaInput(inputs, options);
    read.files = inputs;
    return read;
  }
  read.sheet = ReadStudySheet(sheet, defaults);
  read.input.studies = read.sheet->studies;
  for (const SheetStudy& row : read.sheet->rows) {
    read.files.push_back(row.file);
    read.input.sha256.push_back(row.sha256);
    read.input.top_lists = read.input.top_lists || row.list;
    if (row.table) read.input.tables.push_back(*row.table);
  }
  // Lists refuse a repeated id while they are read; what reaches the
  // analysis are the tables' repeated probes, merged as tables are.
  read.input.duplicates = defaults.duplicates.value_or(Duplicates::kMean);
  return read;
}

namespace {

const char* AbsentName(Absent absent) { return absent == Absent::kBelow ? "below" : "missing"; }

}  // namespace

std::string UniverseNote(const MetaResults& results) {
  for (const MetaResults::StudyFacts& f : results.study_facts) {
    if (f.absent == Absent::kBelow && !f.universe_given) {
      return "no universe was given: the " + std::to_string(results.genes.size()) +
             " genes the inputs name stand for the genes the top-k lists were chosen from; a universe "
             "smaller than the real one makes a top rank look less rare and inflates P-values "
             "(give --universe N or a file of ids)";
    }
  }
  return {};
}

nlohmann::ordered_json StudyUniversesJson(const MetaResults& results, const StudiesRead& read) {
  nlohmann::ordered_json studies = nlohmann::ordered_json::array();
  for (std::size_t j = 0; j < results.studies.size(); ++j) {
    const MetaResults::StudyFacts& f = results.study_facts[j];
    nlohmann::ordered_json s = {{"study", results.studies[j]},
                                {"ids_listed", f.listed},
                                {"absent", AbsentName(f.absent)},
                                {"universe", f.universe}};
    s["universe_from"] = f.absent != Absent::kBelow ? "the study's ids"
                         : f.universe_given         ? "given"
                                                    : "the union of the inputs";
    if (read.sheet) {
      const SheetStudy& row = read.sheet->rows[j];
      s["file"] = row.file.string();
      if (!row.universe.empty()) s["universe_given"] = row.universe;
      if (!row.universe_sha256.empty()) s["universe_sha256"] = row.universe_sha256;
    }
    studies.push_back(s);
  }
  return studies;
}

}  // namespace korvelan::tools
