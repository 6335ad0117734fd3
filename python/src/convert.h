// Between Python objects and the meta-analysis layer (korvelan/meta.h):
// the option strings of korvelan.analyze, and the results table as columns
// of numpy arrays in results.tsv's row order. Nothing here computes a
// statistic; every number comes from korvelan::RunMeta unchanged.
#ifndef KORVELAN_PYTHON_CONVERT_H_
#define KORVELAN_PYTHON_CONVERT_H_

#include <pybind11/pybind11.h>

#include <string>

#include "korvelan/meta.h"

namespace korvelan_python {

// "below" / "missing"; "refuse" / "first" / "best" / "mean"; "plus-one" /
// "exact". Throw ValueError otherwise.
korvelan::Absent ParseAbsent(const std::string& text);
korvelan::Duplicates ParseDuplicates(const std::string& text);
korvelan::PValues ParsePValues(const std::string& text);

// {"index": genes, "columns": names, "data": arrays, "attrs": run facts}:
// the columns of korvelan::ResultColumns without "gene" (the index), rows
// in korvelan::ResultOrder by p_Rmean_left. Integer columns are int64,
// the others float64 with NaN for NA. Needs the GIL.
pybind11::dict ResultsToPython(const korvelan::MetaResults& results);

}  // namespace korvelan_python

#endif  // KORVELAN_PYTHON_CONVERT_H_
