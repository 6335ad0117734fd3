#include "src/convert.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "korvelan/analysis.h"
#include "korvelan/options.h"

namespace py = pybind11;

namespace korvelan_python {

namespace {

// One column of the results, gathered in row order.
template <typename Out, typename In>
py::array_t<Out> Gather(const std::vector<In>& values, const std::vector<std::size_t>& order,
                        std::size_t offset = 0) {
  py::array_t<Out> column(static_cast<py::ssize_t>(order.size()));
  auto out = column.template mutable_unchecked<1>();
  for (std::size_t k = 0; k < order.size(); ++k) {
    out(static_cast<py::ssize_t>(k)) = static_cast<Out>(values[offset + order[k]]);
  }
  return column;
}

// "up" and "down" as results.tsv writes them; its "NA" is NaN, as pandas
// reads that file.
py::list Directions(const std::vector<std::int8_t>& direction,
                    const std::vector<std::size_t>& order) {
  py::list column;
  const py::str up("up");
  const py::str down("down");
  const py::float_ na(std::numeric_limits<double>::quiet_NaN());
  for (std::size_t i : order) {
    column.append(direction[i] == korvelan::kUp     ? py::object(up)
                  : direction[i] == korvelan::kDown ? py::object(down)
                                                    : py::object(na));
  }
  return column;
}

}  // namespace

std::vector<std::string> Utf8Strings(const py::list& items, const std::string& what) {
  std::vector<std::string> out;
  out.reserve(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    PyObject* item = PyList_GET_ITEM(items.ptr(), static_cast<py::ssize_t>(k));
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(item) ? PyUnicode_AsUTF8AndSize(item, &size) : nullptr;
    if (text == nullptr) {
      PyErr_Clear();
      throw py::value_error(what + " " + std::to_string(k + 1) + " (" +
                            py::repr(py::handle(item)).cast<std::string>() +
                            ") is not text that UTF-8 can hold");
    }
    out.emplace_back(text, static_cast<std::size_t>(size));
  }
  return out;
}

// The library's words and refusals (korvelan/options.h); its
// std::invalid_argument reaches Python as ValueError.
korvelan::Absent ParseAbsent(const std::string& text) { return korvelan::AbsentFromWord(text); }

korvelan::Duplicates ParseDuplicates(const std::string& text) {
  return korvelan::DuplicatesFromWord(text);
}

korvelan::PValues ParsePValues(const std::string& text) { return korvelan::PValuesFromWord(text); }

py::dict ResultsToPython(const korvelan::MetaResults& r, int sort_by) {
  const std::vector<std::size_t> order = korvelan::ResultOrder(r, sort_by);
  const std::size_t genes = r.genes.size();

  py::list index;
  for (std::size_t i : order) index.append(py::str(r.genes[i]));

  py::list columns;
  py::list data;
  auto add = [&](const std::string& name, py::object column) {
    columns.append(py::str(name));
    data.append(std::move(column));
  };
  for (const std::string& name : korvelan::ResultColumns(r)) {
    if (name == "gene") continue;  // the index
    if (name == "n_studies") {
      add(name, Gather<std::int64_t>(r.n_studies, order));
    } else if (name == "class") {
      add(name, Gather<std::int64_t>(r.info_class, order));
    } else if (name == "R_mean") {
      add(name, Gather<double>(r.r_mean, order));
    } else if (name == "R_wmean") {
      add(name, Gather<double>(r.r_wmean, order));
    } else if (name == "Q") {
      add(name, Gather<double>(r.q, order));
    } else if (name == "direction") {
      add(name, Directions(r.direction, order));
    } else if (name == "n_up") {
      add(name, Gather<std::int64_t>(r.n_up, order));
    } else if (name == "n_down") {
      add(name, Gather<std::int64_t>(r.n_down, order));
    } else if (name == "logFC_mean") {
      add(name, Gather<double>(r.fold_change_mean, order));
    } else {
      bool found = false;
      for (std::size_t j = 0; j < r.studies.size() && !found; ++j) {
        if (name == "rank_" + r.studies[j]) {
          add(name, Gather<double>(r.ranks, order, j * genes));
          found = true;
        } else if (name == "logFC_" + r.studies[j]) {
          add(name, Gather<double>(r.fold_changes, order, j * genes));
          found = true;
        }
      }
      for (int t = 0; t < korvelan::kPValues && !found; ++t) {
        const auto u = static_cast<std::size_t>(t);
        const std::string p_name(korvelan::PValueName(t));
        if (name == p_name) {
          add(name, Gather<double>(r.p[u], order));
          found = true;
        } else if (name == "q_" + p_name.substr(2)) {
          add(name, Gather<double>(r.q_values[u], order));
          found = true;
        }
      }
      // A column the library names but this module cannot fill: a build
      // against a newer meta layer; better to fail than to drop it.
      if (!found) throw std::logic_error("korvelan: no data for the result column " + name);
    }
  }

  py::dict attrs;
  attrs["runs"] = r.runs;
  attrs["seed"] = r.seed;
  attrs["universe"] = r.universe;
  attrs["version"] = r.version;
  attrs["pvalues"] = std::string(korvelan::WordOf(r.pvalues));
  attrs["studies"] = r.studies;
  attrs["genes_analysed"] = r.genes_analysed;
  attrs["classes"] = r.classes;

  py::dict out;
  out["index"] = index;
  out["columns"] = columns;
  out["data"] = data;
  out["attrs"] = attrs;
  return out;
}

}  // namespace korvelan_python
