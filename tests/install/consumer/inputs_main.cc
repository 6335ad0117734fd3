// Two differential-expression tables held in memory, read and ranked as
// korvelan-meta reads the files with that header, analysed, and the run's
// page made: the consumer prints what was read, each gene's R-mean and
// the page's size, then shows that a refused setting is an InputError of
// kind kUsage.
#include <korvelan/input_error.h>
#include <korvelan/inputs.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

korvelan::MemoryTable Table(const std::string& study, std::vector<std::string> genes,
                            std::vector<double> pvalues) {
  korvelan::TableColumn gene{"gene", false, std::move(genes), {}};
  korvelan::TableColumn pvalue{"pvalue", true, {}, std::move(pvalues)};
  return korvelan::MemoryTable{study, {gene, pvalue}};
}

}  // namespace

int main() {
  const std::vector<korvelan::MemoryTable> tables = {
      Table("A", {"g1", "g2", "g3", "g4", "g5"}, {0.001, 0.02, 0.2, 0.5, 0.9}),
      Table("B", {"g2", "g1", "g3", "g5", "g4"}, {0.004, 0.01, 0.3, 0.6, 0.8})};
  korvelan::RunSettings settings;
  const korvelan::StudyInput input = korvelan::ReadStudyTables(tables, settings);
  const korvelan::RunPlan plan = korvelan::SettleOptions(input, settings, 12345, 1);
  const korvelan::MetaResults results = korvelan::RunMeta(input.studies(), plan.options);
  korvelan::RunFacts facts;
  facts.program = "consumer";
  const std::string page = korvelan::ReportPage(input, settings, plan, results, facts);
  std::printf("%zu studies (%s), absent genes %s\n", input.studies().size(), input.format().c_str(),
              plan.absent.c_str());
  for (std::size_t i = 0; i < results.genes.size(); ++i) {
    std::printf("%s: R-mean %.4f\n", results.genes[i].c_str(), results.r_mean[i]);
  }
  std::printf("page: %s\n", page.rfind("<!DOCTYPE html>", 0) == 0 ? "html" : "not html");

  settings.first = "middle";
  try {
    korvelan::ReadStudyTables(tables, settings);
    std::printf("first = middle: accepted\n");
    return 1;
  } catch (const korvelan::InputError& e) {
    std::printf("first = middle: refused (%s)\n",
                e.kind() == korvelan::InputErrorKind::kUsage ? "usage" : "data");
  }
  return 0;
}
