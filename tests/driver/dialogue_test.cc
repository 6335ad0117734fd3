#include "driver/dialogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "textio/list_input.h"
#include "textio/termination.h"

namespace korvelan::driver {
namespace {

// Screen lines as the console shows them: one record per line, its own
// leading blank, CR LF.
// (Built by appending: g++ 12 at -O3 warns falsely about " " + string.)
std::string Line(std::string_view text) {
  std::string line(1, ' ');
  line.append(text).append("\r\n");
  return line;
}
std::string Echo(std::string_view text, std::int32_t value) {
  char field[16];
  std::snprintf(field, sizeof field, "%12d", value);
  std::string line(1, ' ');
  line.append(text).append(field).append("\r\n");
  return line;
}
const std::string kBlank = "  \r\n";

std::string Banner() {
  std::string out;
  for (auto t : BannerTexts()) out += Line(t);
  return out;
}

struct Transcript {
  AnalysisParameters params;
  std::string screen;
};

Transcript Converse(std::string answers) {
  textio::ListReader console(textio::StringSource(std::move(answers)), textio::kConsoleInputUnit,
                             std::string(textio::kConsoleInputName));
  testing::internal::CaptureStdout();
  Transcript t;
  try {
    t.params = RunDialogue(console);
  } catch (const textio::Termination& e) {
    ADD_FAILURE() << "the dialogue ended: " << e.ReportLine();
  }
  t.screen = testing::internal::GetCapturedStdout();
  return t;
}

// Prompt, echo and blank line of one accepted answer.
std::string Asked(std::string_view prompt, std::string_view echo, std::int32_t value) {
  return Line(prompt) + Echo(echo, value) + kBlank;
}

TEST(Banner, KeepsItsFixedLinesAndCreditLayout) {
  const auto& b = BannerTexts();
  EXPECT_EQ(b[0], "KORVELAN: program for Meta-Analysis of");
  EXPECT_EQ(b[1], "              Ranked Discovery Datasets");
  EXPECT_EQ(b[2], "              including Microarrays Data");
  EXPECT_EQ(b[4], std::string(17, ' ') + "by");
  EXPECT_EQ(b[11], std::string(20, ' ') + "and");
  EXPECT_EQ(b[16], " To use the program do NOT double click to");
  EXPECT_EQ(b[17], " icon of the exe file. Press \"start\"->\"run\"-> Open:cmd->OK");
  EXPECT_EQ(b[19], "The input files are: \"data.txt\" and  \"weights.txt\" ");
  EXPECT_EQ(b[20], "The output file is: \"output.txt\"");
  EXPECT_EQ(b[21], "The Restricted Heterogeneity results are only shown on the screen ");
  EXPECT_EQ(b[24], "For Main analysis type \"1\" for Retricted Heterogeneity analysis type \"0\"");
  for (std::size_t n : {3u, 5u, 7u, 15u, 18u, 22u, 23u}) EXPECT_EQ(b[n], " ") << "line " << n + 1;
  // Names and institutions: text lines of their own, not blank ones.
  for (std::size_t n : {6u, 8u, 9u, 10u, 12u, 13u, 14u}) {
    EXPECT_NE(b[n].find_first_not_of(' '), std::string_view::npos) << "line " << n + 1;
  }
}

TEST(Dialogue, MainAnalysisTranscript) {
  const Transcript t = Converse("1\n5\n7894\n5\n100\n");
  const std::string expected =
      Banner() + Echo("The type of analysis is", 1) + kBlank +
      Asked("Enter the number of studies", "The number of studies is", 5) +
      Asked("Enter the number of distinct probes in total", "The number of distinct probes is",
            7894) +
      Asked("Enter the number of information classes", "The number of information classes is", 5) +
      Asked("Enter the number runs", "The number of runs is", 100);
  EXPECT_EQ(t.screen, expected);
  EXPECT_EQ(t.params.analysis_type, 1);
  EXPECT_EQ(t.params.studies, 5);
  EXPECT_EQ(t.params.probes, 7894);
  EXPECT_EQ(t.params.classes, 5);
  EXPECT_EQ(t.params.runs, 100);
  EXPECT_EQ(t.params.class_column, 6);
  EXPECT_EQ(t.params.gene_id, 0);
  EXPECT_EQ(t.params.gene_class, 0);
  EXPECT_EQ(t.params.limit, 0);
}

TEST(Dialogue, RestrictedAnalysisTranscript) {
  const Transcript t = Converse("0\n3\n40\n2\n7\n1\n-5\n0\n");
  const std::string expected =
      Banner() + Echo("The type of analysis is", 0) + kBlank +
      Asked("Enter the number of studies", "The number of studies=", 3) +
      Asked("Enter the number of distinct probes in total", "The number of distinct probes is", 40) +
      Asked("Enter the number of information classes", "The number of information classes is", 2) +
      Asked("Enter the gene id", "The gene id is", 7) +
      Asked("Enter the information class of the gene", "The information class of the gene is", 1) +
      Asked("Enter the restriction limit", "The restriction limit is", -5) +
      Asked("Enter the number runs", "The number of runs is", 0);
  EXPECT_EQ(t.screen, expected);
  const AnalysisParameters& p = t.params;
  EXPECT_EQ(p.analysis_type, 0);
  EXPECT_EQ(p.studies, 3);
  EXPECT_EQ(p.class_column, 4);
  EXPECT_EQ(p.probes, 40);
  EXPECT_EQ(p.classes, 2);
  EXPECT_EQ(p.gene_id, 7);
  EXPECT_EQ(p.gene_class, 1);
  EXPECT_EQ(p.limit, -5);
  EXPECT_EQ(p.runs, 0);
}

TEST(Dialogue, ModeIsTheStoredAnswerExactly) {
  struct Case {
    const char* name;
    const char* answers;
    std::int32_t type;
    std::int32_t studies;  // 0 when no studies question is asked
  };
  const std::vector<Case> cases = {
      {"2 asks nothing more", "2\n5\n", 2, 0},
      {"-1 asks nothing more", "-1\n5\n", -1, 0},
      {"1.9 is main", "1.9\n4\n10\n2\n0\n", 1, 4},
      {"0.5 is restricted", "0.5\n4\n10\n2\n1\n1\n1\n0\n", 0, 4},
      {"-0.5 is restricted", "-0.5\n4\n10\n2\n1\n1\n1\n0\n", 0, 4},
      {"second number on a line is ignored", "1 0\n4\n10\n2\n0\n", 1, 4},
      {"empty lines are passed over", "\n  \n1\n\n4\n10\n2\n0\n", 1, 4},
  };
  for (const auto& c : cases) {
    const Transcript t = Converse(c.answers);
    EXPECT_EQ(t.params.analysis_type, c.type) << c.name;
    EXPECT_EQ(t.params.studies, c.studies) << c.name;
    EXPECT_EQ(t.params.class_column, c.studies == 0 ? 0 : c.studies + 1) << c.name;
    if (c.studies == 0) {
      EXPECT_EQ(t.screen, Banner() + Echo("The type of analysis is", c.type) + kBlank) << c.name;
    }
  }
}

// Answers to the studies question (main analysis) and whether each is
// refused, followed by the accepted value that ends the loop.
TEST(Dialogue, LimitsRefuseAndAskAgain) {
  struct Case {
    const char* name;
    const char* answers;  // after the analysis type 1
    std::string tail;     // the expected screen after the type's echo
  };
  const std::string studies_q = "Enter the number of studies";
  const std::string studies_e = "The number of studies is";
  const std::string studies_r = Line("Number of studies cannot be greater than 100");
  const std::string probes_q = "Enter the number of distinct probes in total";
  const std::string probes_e = "The number of distinct probes is";
  const std::string probes_r = Line("Number of distinct probes cannot be greater than 500000");
  const std::string classes_q = "Enter the number of information classes";
  const std::string classes_e = "The number of information classes is";
  const std::string classes_r = Line("Number of classes cannot be greater than 500000");
  const std::string runs = Asked("Enter the number runs", "The number of runs is", 0);
  const std::string probes_ok = Asked(probes_q, probes_e, 1);
  const std::string classes_ok = Asked(classes_q, classes_e, 1);
  const std::vector<Case> cases = {
      {"98 studies", "98\n1\n1\n0\n",
       Asked(studies_q, studies_e, 98) + probes_ok + classes_ok + runs},
      {"99 and 100 studies", "99\n100\n98\n1\n1\n0\n",
       Asked(studies_q, studies_e, 99) + studies_r + Asked(studies_q, studies_e, 100) + studies_r +
           Asked(studies_q, studies_e, 98) + probes_ok + classes_ok + runs},
      {"2147483647 studies does not wrap", "2147483647\n-2147483648\n1\n1\n0\n",
       Asked(studies_q, studies_e, 2147483647) + studies_r +
           Asked(studies_q, studies_e, -2147483647 - 1) + probes_ok + classes_ok + runs},
      {"probes", "2\n500000\n499999\n1\n0\n",
       Asked(studies_q, studies_e, 2) + Asked(probes_q, probes_e, 500000) + probes_r +
           Asked(probes_q, probes_e, 499999) + classes_ok + runs},
      {"classes", "2\n1\n500000\n2147483647\n499999\n0\n",
       Asked(studies_q, studies_e, 2) + probes_ok + Asked(classes_q, classes_e, 500000) +
           classes_r + Asked(classes_q, classes_e, 2147483647) + classes_r +
           Asked(classes_q, classes_e, 499999) + runs},
      {"no lower limits", "-7\n-1\n-2147483648\n-3\n",
       Asked(studies_q, studies_e, -7) + Asked(probes_q, probes_e, -1) +
           Asked(classes_q, classes_e, -2147483647 - 1) +
           Asked("Enter the number runs", "The number of runs is", -3)},
  };
  const std::string head = Banner() + Echo("The type of analysis is", 1) + kBlank;
  for (const auto& c : cases) {
    const Transcript t = Converse(std::string("1\n") + c.answers);
    EXPECT_EQ(t.screen, head + c.tail) << c.name;
  }
  EXPECT_EQ(Converse("1\n2147483647\n-2147483648\n1\n1\n0\n").params.class_column, -2147483647);
}

// One question of a dialogue as the null-answer test plays it: its texts,
// the parameter it fills, an answer it accepts and, for a limited question,
// one it refuses.
struct Played {
  const char* name;
  std::string_view prompt;
  std::string_view echo;
  std::string_view refusal;  // empty: no limit
  std::int32_t AnalysisParameters::*field;
  std::int32_t accepted;
  std::int32_t refused;
};

// Every question of both dialogues, each in turn answered with a null
// value, a slash or r* (the other questions answered normally): at its
// first asking the parameter keeps its zero; after a refusal it keeps the
// refused value, which is echoed and refused again before the next answer
// is taken. The whole screen and every parameter are compared.
TEST(Dialogue, NullAnswerKeepsWhatTheParameterHolds) {
  using P = AnalysisParameters;
  const Played studies{"studies",
                       "Enter the number of studies",
                       "The number of studies is",
                       "Number of studies cannot be greater than 100",
                       &P::studies,
                       2,
                       99};
  Played studies_restricted = studies;
  studies_restricted.echo = "The number of studies=";
  const Played probes{"probes",
                      "Enter the number of distinct probes in total",
                      "The number of distinct probes is",
                      "Number of distinct probes cannot be greater than 500000",
                      &P::probes,
                      3,
                      500000};
  const Played classes{"classes",
                       "Enter the number of information classes",
                       "The number of information classes is",
                       "Number of classes cannot be greater than 500000",
                       &P::classes,
                       1,
                       2147483647};
  const Played runs{"runs", "Enter the number runs", "The number of runs is", "", &P::runs, 4, 0};
  // In the restricted dialogue the type's own answer is 0, so a null type
  // answer plays that dialogue unchanged.
  const Played type{
      "type", BannerTexts().back(), "The type of analysis is", "", &P::analysis_type, 0, 0};
  const Played gene_id{"gene id", "Enter the gene id", "The gene id is", "", &P::gene_id, 2, 0};
  const Played gene_class{"gene class",
                          "Enter the information class of the gene",
                          "The information class of the gene is",
                          "",
                          &P::gene_class,
                          1,
                          0};
  const Played limit{
      "limit", "Enter the restriction limit", "The restriction limit is", "", &P::limit, -5, 0};
  struct Dialogue {
    const char* name;
    std::int32_t type;
    std::vector<Played> questions;  // after the type question, except for `type`
  };
  const std::vector<Dialogue> dialogues = {
      {"main", 1, {studies, probes, classes, runs}},
      {"restricted",
       0,
       {type, studies_restricted, probes, classes, gene_id, gene_class, limit, runs}},
  };
  // ",9": a comma before any value is a null even with a value after it on
  // the line, which the statement never reads.
  const char* const nulls[] = {",", "/", "2*", "0003*", " ,9"};

  for (const Dialogue& d : dialogues) {
    const bool type_played = d.questions.front().field == &P::analysis_type;
    for (std::size_t target = 0; target < d.questions.size(); ++target) {
      for (const bool after_refusal : {false, true}) {
        if (after_refusal && d.questions[target].refusal.empty()) continue;
        for (const char* null : nulls) {
          std::string answers = type_played ? "" : std::to_string(d.type) + "\n";
          std::string screen =
              Banner() + (type_played ? "" : Echo("The type of analysis is", d.type) + kBlank);
          AnalysisParameters expected;
          expected.analysis_type = d.type;
          for (std::size_t n = 0; n < d.questions.size(); ++n) {
            const Played& q = d.questions[n];
            // The type's prompt is the banner's last line, already written.
            const std::string prompt = q.field == &P::analysis_type ? "" : Line(q.prompt);
            std::int32_t value = q.accepted;
            if (n != target) {
              answers += std::to_string(q.accepted) + "\n";
            } else if (!after_refusal) {
              answers += std::string(null) + "\n";
              value = 0;
            } else {
              answers += std::to_string(q.refused) + "\n" + null + "\n" +
                         std::to_string(q.accepted) + "\n";
              const std::string refused =
                  Line(q.prompt) + Echo(q.echo, q.refused) + kBlank + Line(q.refusal);
              screen += refused + refused;
            }
            screen += prompt + Echo(q.echo, value) + kBlank;
            expected.*q.field = value;
          }
          expected.class_column = expected.studies + 1;

          const std::string name = std::string(d.name) + ", " + d.questions[target].name +
                                   (after_refusal ? " after a refusal" : " first asked") +
                                   ", answer \"" + null + "\"";
          const Transcript t = Converse(answers);
          EXPECT_EQ(t.screen, screen) << name;
          for (const Played& q : d.questions) {
            EXPECT_EQ(t.params.*q.field, expected.*q.field) << name << ": " << q.name;
          }
          EXPECT_EQ(t.params.class_column, expected.class_column) << name;
        }
      }
    }
  }
}

TEST(Dialogue, BadAnswersEndTheRunAfterThePrompt) {
  struct Case {
    const char* name;
    const char* answers;
    int number;
    std::string screen_tail;  // what the screen ends with when the run ends
  };
  const std::vector<Case> cases = {
      {"word", "1\nabc\n", 59, Line("Enter the number of studies")},
      {"digits then letters", "1\n12abc\n", 59, Line("Enter the number of studies")},
      {"beyond 32 bits", "3000000000\n", 64, Line(BannerTexts().back())},
      {"end of input", "1\n5\n", 24, Line("Enter the number of distinct probes in total")},
      {"no input at all", "", 24, Line(BannerTexts().back())},
      {"end of input while refused", "1\n99\n", 24,
       Line("Number of studies cannot be greater than 100") + Line("Enter the number of studies")},
  };
  for (const auto& c : cases) {
    textio::ListReader console(textio::StringSource(c.answers), textio::kConsoleInputUnit,
                               std::string(textio::kConsoleInputName));
    testing::internal::CaptureStdout();
    try {
      RunDialogue(console);
      testing::internal::GetCapturedStdout();
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const textio::Termination& t) {
      const std::string screen = testing::internal::GetCapturedStdout();
      EXPECT_EQ(t.SevereNumber(), c.number) << c.name;
      EXPECT_NE(t.ReportLine().find("unit -4, file CONIN$"), std::string::npos) << c.name;
      ASSERT_GE(screen.size(), c.screen_tail.size()) << c.name;
      EXPECT_EQ(screen.substr(screen.size() - c.screen_tail.size()), c.screen_tail) << c.name;
    }
  }
}

}  // namespace
}  // namespace korvelan::driver
