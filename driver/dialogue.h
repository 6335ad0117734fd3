// The console dialogue: the banner, the analysis-type question and the
// questions of the chosen analysis, with their echoes, blank lines, limits
// and refusal lines.
//
// Every line is one list-directed record on standard output (leading blank,
// CR LF); every answer is one list-directed statement reading one integer
// from `console`, so a run's answers are one per line, a fraction or an
// exponent is truncated toward zero, and a bad token, an integer beyond
// 32 bits or the end of input ends the run (textio::Termination, unit -4,
// "CONIN$").
#ifndef KORVELAN_DRIVER_DIALOGUE_H_
#define KORVELAN_DRIVER_DIALOGUE_H_

#include <array>
#include <string_view>

#include "engine/model.h"
#include "textio/list_input.h"

namespace korvelan::driver {

// The banner, 25 texts; the last is the prompt of the analysis-type
// question.
inline constexpr std::size_t kBannerLines = 25;
const std::array<std::string_view, kBannerLines>& BannerTexts();

// Writes the banner, asks the analysis type and then the questions of the
// main analysis (type 1) or of the restricted heterogeneity analysis
// (type 0); for any other type nothing more is asked and every other
// parameter stays zero. A refused studies, probes or classes answer is
// echoed, followed by the blank line and the refusal line, and the question
// is asked again, as often as it takes. Each answer is read into its
// parameter, so a null answer, a slash or r* leaves the value last stored
// there: zero at a question's first asking, the refused value (echoed and
// refused again) after a refusal. The class column is S + 1 of the
// accepted S.
AnalysisParameters RunDialogue(textio::ListReader& console);

}  // namespace korvelan::driver

#endif  // KORVELAN_DRIVER_DIALOGUE_H_
