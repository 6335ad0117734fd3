// korvelan-meta's studies: read from input files or a study sheet, and
// what each study ranked (ids listed, universe, absent mode) in run.json.
#ifndef KORVELAN_COMMON_META_STUDIES_H_
#define KORVELAN_COMMON_META_STUDIES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "korvelan/meta.h"
#include "common/meta_input.h"
#include "common/meta_sheet.h"

namespace korvelan::tools {

struct StudiesRead {
  MetaInput input;  // sha256 per file of `files`
  std::vector<std::filesystem::path> files;
  std::optional<SheetInput> sheet;
};

// From `inputs` with `options`, or, when `sheet` is not empty, from the
// sheet with `defaults`.
StudiesRead ReadStudies(const std::vector<std::filesystem::path>& inputs,
                        const MetaReadOptions& options, const std::filesystem::path& sheet,
                        const SheetDefaults& defaults);

// Empty unless some top-k study had no universe given: then the named
// genes stood for it, and the note says so and why that matters.
std::string UniverseNote(const MetaResults& results);

nlohmann::ordered_json StudyUniversesJson(const MetaResults& results, const StudiesRead& read);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_META_STUDIES_H_
