#include "driver/dialogue.h"

#include <cstdint>

#include "textio/channels.h"
#include "textio/termination.h"

namespace korvelan::driver {
namespace {

constexpr std::string_view kBlank = " ";

// One question. A limited question accepts a value when
// value + offset < bound, evaluated in 64 bits so that no answer wraps
// around into acceptance.
struct Question {
  std::string_view prompt;
  std::string_view echo;
  std::string_view refusal = {};  // empty: every value is accepted
  std::int64_t offset = 0;
  std::int64_t bound = 0;
};

constexpr Question kStudies{"Enter the number of studies", "The number of studies is",
                            "Number of studies cannot be greater than 100", 1, kMaxColumns};
constexpr Question kStudiesRestricted{
    "Enter the number of studies",
    "The number of studies=", "Number of studies cannot be greater than 100", 1, kMaxColumns};
constexpr Question kProbes{"Enter the number of distinct probes in total",
                           "The number of distinct probes is",
                           "Number of distinct probes cannot be greater than 500000", 0, kMaxRows};
constexpr Question kClasses{"Enter the number of information classes",
                            "The number of information classes is",
                            "Number of classes cannot be greater than 500000", 0, kMaxClasses};
constexpr Question kRuns{"Enter the number runs", "The number of runs is"};
constexpr Question kGeneId{"Enter the gene id", "The gene id is"};
constexpr Question kGeneClass{"Enter the information class of the gene",
                              "The information class of the gene is"};
constexpr Question kLimit{"Enter the restriction limit", "The restriction limit is"};

// Read, echo, blank line: the part of a question after its prompt. The
// answer goes into the parameter itself, so a null value or a slash keeps
// what the dialogue last stored there: zero before the first answer, the
// refused value when a limited question is asked again.
void ReadAndEcho(textio::ListReader& console, std::string_view echo, std::int32_t& parameter) {
  console.ReadInteger(parameter);
  textio::ConsoleWrite(echo, parameter);
  textio::ConsoleWrite(kBlank);
}

void Ask(textio::ListReader& console, const Question& q, std::int32_t& parameter) {
  for (;;) {
    textio::ConsoleWrite(q.prompt);
    ReadAndEcho(console, q.echo, parameter);
    if (q.refusal.empty() || static_cast<std::int64_t>(parameter) + q.offset < q.bound) return;
    textio::ConsoleWrite(q.refusal);
  }
}

// S, P and M, asked alike by both analyses; the class column follows from
// the accepted number of studies.
void AskCounts(textio::ListReader& console, const Question& studies, AnalysisParameters& p) {
  Ask(console, studies, p.studies);
  p.class_column = p.studies + 1;
  Ask(console, kProbes, p.probes);
  Ask(console, kClasses, p.classes);
}

}  // namespace

const std::array<std::string_view, kBannerLines>& BannerTexts() {
  static constexpr std::array<std::string_view, kBannerLines> kBanner = {
      "KORVELAN: program for Meta-Analysis of",
      "              Ranked Discovery Datasets",
      "              including Microarrays Data",
      " ",
      "                 by",
      " ",
      "     Edda Marwinsk, Tobin Quarrel and Ilse Venhoff",
      " ",
      "     Department of Statistical Genomics",
      "     School of Life and Health Sciences",
      "     Quenmarsh",
      "                    and",
      "     Centre for Computational Biology",
      "     School of Medicine",
      "     Thildenford",
      " ",
      " To use the program do NOT double click to",
      " icon of the exe file. Press \"start\"->\"run\"-> Open:cmd->OK",
      " ",
      "The input files are: \"data.txt\" and  \"weights.txt\" ",
      "The output file is: \"output.txt\"",
      "The Restricted Heterogeneity results are only shown on the screen ",
      " ",
      " ",
      "For Main analysis type \"1\" for Retricted Heterogeneity analysis type \"0\"",
  };
  return kBanner;
}

AnalysisParameters RunDialogue(textio::ListReader& console) {
  textio::PhaseScope scope("Dialogue");
  AnalysisParameters p;
  // The banner's last line is the prompt of the analysis-type question.
  for (std::string_view line : BannerTexts()) textio::ConsoleWrite(line);
  ReadAndEcho(console, "The type of analysis is", p.analysis_type);

  // Exact tests on the stored answer, one after the other, as every later
  // branch between the analyses makes them.
  if (p.analysis_type == 1) {
    AskCounts(console, kStudies, p);
    Ask(console, kRuns, p.runs);
  }
  if (p.analysis_type == 0) {
    AskCounts(console, kStudiesRestricted, p);
    Ask(console, kGeneId, p.gene_id);
    Ask(console, kGeneClass, p.gene_class);
    Ask(console, kLimit, p.limit);
    Ask(console, kRuns, p.runs);
  }
  return p;
}

}  // namespace korvelan::driver
