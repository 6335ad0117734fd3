#include "textio/results_legend.h"

#include "textio/list_output.h"

namespace korvelan::textio {

std::string LegendRecords() {
  std::string out;
  for (std::string_view text : kLegend) {
    for (const std::string& record : ListRecords(text)) {
      out += record;
      out += "\r\n";
    }
  }
  return out;
}

}  // namespace korvelan::textio
