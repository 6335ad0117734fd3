// KORVELAN: meta-analysis of ranked discovery datasets. One pass from the
// banner to the end: dialogue, loading, analysis.
#include <new>
#include <string_view>
#include <vector>

#include "driver/analysis.h"
#include "driver/dialogue.h"
#include "driver/loading.h"
#include "driver/options.h"
#include "textio/channels.h"
#include "textio/list_input.h"
#include "textio/termination.h"

namespace {

using korvelan::driver::Options;

void Run(const Options& options) {
  if (options.action == Options::Action::kHelp) {
    for (const auto& line : korvelan::driver::HelpLines()) korvelan::textio::ConsoleFormatted(line);
    return;
  }
  if (options.action == Options::Action::kVersion) {
    korvelan::textio::ConsoleFormatted(korvelan::driver::VersionLine());
    return;
  }
  // One reader for the whole dialogue: each answer is a statement of its
  // own, but bytes already taken from standard input must not be lost.
  korvelan::textio::ListReader console(korvelan::textio::FileDescriptorSource(0),
                                       korvelan::textio::kConsoleInputUnit,
                                       std::string(korvelan::textio::kConsoleInputName));
  const korvelan::AnalysisParameters params = korvelan::driver::RunDialogue(console);
  korvelan::driver::LoadedInputs inputs = korvelan::driver::LoadInputs(params, options.threads);
  korvelan::driver::AnalysisOptions analysis;
  analysis.initial_seed = options.seed;
  analysis.threads = options.threads;
  korvelan::driver::Analyse(params, inputs.ranks, inputs.weights, inputs.results.get(), analysis);
}

}  // namespace

int main(int argc, char** argv) {
  korvelan::textio::InstallInterruptHandling();
  try {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    Run(korvelan::driver::ParseOptions(args));
  } catch (const korvelan::textio::Termination& t) {
    korvelan::textio::Exit(t);
  } catch (const std::bad_alloc&) {
    // Storage that grows with the data: running out is the memory
    // condition, not a crash.
    korvelan::textio::Exit(
        korvelan::textio::Termination::SevereCondition(korvelan::textio::Severe::kNoMemory));
  }
  korvelan::textio::NormalEnd();
}
