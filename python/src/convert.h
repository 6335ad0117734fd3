// Between Python objects and the meta-analysis layer (korvelan/meta.h):
// the option strings of korvelan.analyze, and the results table as columns
// of numpy arrays in results.tsv's row order. Nothing here computes a
// statistic; every number comes from korvelan::RunMeta unchanged.
#ifndef KORVELAN_PYTHON_CONVERT_H_
#define KORVELAN_PYTHON_CONVERT_H_

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "korvelan/meta.h"

namespace korvelan_python {

// The shared options' words (korvelan/options.h). Throw ValueError with the
// library's refusal otherwise.
korvelan::Absent ParseAbsent(const std::string& text);
korvelan::Duplicates ParseDuplicates(const std::string& text);
korvelan::PValues ParsePValues(const std::string& text);

// The items of a list of str as UTF-8 strings. Throws ValueError naming
// `what` and the 1-based position for an item that is not a str or has no
// UTF-8 form (a lone surrogate). Needs the GIL.
std::vector<std::string> Utf8Strings(const pybind11::list& items, const std::string& what);

// {"index": genes, "columns": names, "data": arrays, "attrs": run facts}:
// the columns of korvelan::ResultColumns without "gene" (the index), rows
// in korvelan::ResultOrder by the P column `sort_by`. Integer columns are
// int64, direction a list of "up", "down" and NaN, the others float64 with
// NaN for NA. Needs the GIL.
pybind11::dict ResultsToPython(const korvelan::MetaResults& results, int sort_by);

}  // namespace korvelan_python

#endif  // KORVELAN_PYTHON_CONVERT_H_
