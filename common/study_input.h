// What korvelan::StudyInput holds (korvelan/inputs.h): the readers' own
// account of the studies, for the options, run.json and the page.
#ifndef KORVELAN_COMMON_STUDY_INPUT_H_
#define KORVELAN_COMMON_STUDY_INPUT_H_

#include <string>
#include <vector>

#include "common/meta_studies.h"
#include "korvelan/inputs.h"

namespace korvelan {

struct StudyInput::Parts {
  tools::StudiesRead read;  // files empty for studies held in memory
  std::string format;
  std::filesystem::path sheet;
  // Warnings() once: the screen and run.json both ask.
  std::vector<std::string> warnings;
};

}  // namespace korvelan

#endif  // KORVELAN_COMMON_STUDY_INPUT_H_
