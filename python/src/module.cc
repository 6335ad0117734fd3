// korvelan._korvelan: korvelan::RunMeta for Python. The analysis runs on a
// thread of its own with the GIL released, while the calling thread waits
// in short slices and, holding the GIL for a moment, lets Python run its
// signal handlers: Ctrl-C (KeyboardInterrupt) stops the analysis through
// its stop token within a slice plus one piece of the engine's work.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <exception>
#include <mutex>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "korvelan/analysis.h"
#include "korvelan/inputs.h"
#include "korvelan/meta.h"
#include "korvelan/options.h"
#include "korvelan/version.h"
#include "src/convert.h"

namespace py = pybind11;

namespace korvelan_python {

namespace {

// How long the calling thread waits between looks at Python's signals.
constexpr std::chrono::milliseconds kSlice{20};

// Releases the GIL for its lifetime; SignalRaised() takes it back for a
// moment.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() { PyEval_RestoreThread(state_); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

  // True when a Python signal handler raised (the error is then set).
  bool SignalRaised() {
    PyEval_RestoreThread(state_);
    const bool raised = PyErr_CheckSignals() != 0;
    state_ = PyEval_SaveThread();
    return raised;
  }

 private:
  PyThreadState* state_;
};

// RunMeta on its own thread, stoppable from the waiting caller.
class Analysis {
 public:
  Analysis(std::vector<korvelan::Study> studies, korvelan::MetaOptions options)
      : studies_(std::move(studies)), options_(std::move(options)) {
    options_.stop = stop_.get_token();
  }

  // Runs to the end or to a raised signal; the GIL is held on entry and
  // on return. Throws the analysis's own exception, or py::error_already_set
  // for the signal handler's exception (KeyboardInterrupt) once the worker
  // has stopped.
  korvelan::MetaResults Run() {
    bool interrupted = false;
    {
      GilReleased released;
      std::thread worker;
      // However this scope is left, the worker is stopped and joined first
      // (a joinable std::thread's destructor would end the process).
      struct Joiner {
        std::thread& thread;
        std::stop_source& stop;
        ~Joiner() {
          if (thread.joinable()) {
            stop.request_stop();
            thread.join();
          }
        }
      } joiner{worker, stop_};
      try {
        worker = std::thread([this] { Work(); });
      } catch (const std::system_error&) {
        // No thread to be had (a process limit): run here, without
        // interrupts, rather than not at all.
        Work();
      }
      std::unique_lock lock(mutex_);
      while (!cv_.wait_for(lock, kSlice, [this] { return done_; })) {
        lock.unlock();
        interrupted = released.SignalRaised();
        lock.lock();
        if (interrupted) break;
      }
    }
    if (interrupted) throw py::error_already_set();
    if (error_) std::rethrow_exception(error_);
    return std::move(results_);
  }

 private:
  void Work() {
    try {
      results_ = korvelan::RunMeta(studies_, options_);
    } catch (...) {
      error_ = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    done_ = true;
    cv_.notify_one();
  }

  std::vector<korvelan::Study> studies_;
  korvelan::MetaOptions options_;
  std::stop_source stop_;
  korvelan::MetaResults results_;
  std::exception_ptr error_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

korvelan::MetaOptions MakeOptions(const std::string& absent, std::int64_t universe_size,
                                  const py::list& universe_ids, const std::string& duplicates,
                                  std::int32_t min_studies, const std::string& pvalues,
                                  std::vector<double> weights, std::int32_t runs, std::int32_t seed,
                                  unsigned threads, const py::list& study_settings) {
  korvelan::MetaOptions m;
  // Per study: (absent or "" for the common one, universe size, universe ids).
  for (const py::handle item : study_settings) {
    const auto t = item.cast<py::tuple>();
    korvelan::StudySettings one;
    if (const auto own = t[0].cast<std::string>(); !own.empty()) one.absent = ParseAbsent(own);
    one.universe_size = t[1].cast<std::int64_t>();
    one.universe_ids = Utf8Strings(t[2].cast<py::list>(), "universe id");
    m.study_settings.push_back(std::move(one));
  }
  m.absent = ParseAbsent(absent);
  m.universe_size = universe_size;
  m.universe_ids = Utf8Strings(universe_ids, "universe id");
  m.duplicates = ParseDuplicates(duplicates);
  m.min_studies = min_studies;
  m.pvalues = ParsePValues(pvalues);
  m.weights = std::move(weights);
  m.runs = runs;
  m.seed = seed;
  m.threads = threads;
  return m;
}

// A finished run is immutable, so copies of a results frame (whose attrs
// pandas may deep-copy) share it.
using korvelan::RunRecord;

// korvelan.analyze's keywords in korvelan-meta's words (RunSettings): texts,
// and min_studies and runs as ints; keys RunSettings does not hold are
// left to the caller.
korvelan::RunSettings SettingsOf(const py::dict& d) {
  korvelan::RunSettings s;
  for (const auto& [key, value] : d) {
    korvelan::SetRunSetting(s, key.cast<std::string>(), py::str(value).cast<std::string>());
  }
  return s;
}

py::dict RunRecorded(korvelan::StudyInput input, korvelan::RunSettings settings,
                     korvelan::RunPlan plan) {
  auto record = std::make_shared<RunRecord>(
      RunRecord{std::move(input), std::move(settings), std::move(plan), {}, {}});
  record->facts.program = "korvelan (Python)";
  record->facts.started_utc = korvelan::UtcNow();
  Analysis analysis(record->input.studies(), record->plan.options);
  record->results = analysis.Run();
  record->plan.options.progress = nullptr;
  py::dict out = ResultsToPython(record->results, korvelan::SortColumn(record->settings));
  out["run"] = py::cast(std::shared_ptr<const RunRecord>(record));
  return out;
}

py::dict RunAndConvert(std::vector<korvelan::Study> studies, const korvelan::MetaOptions& options,
                       const std::string& format, const py::dict& settings) {
  korvelan::RunPlan plan;
  plan.options = options;
  plan.absent = options.absent == korvelan::Absent::kBelow ? "below" : "missing";
  korvelan::RunSettings s = SettingsOf(settings);
  korvelan::SortColumn(s);  // a bad sort_by before the work
  return RunRecorded(korvelan::GivenStudies(std::move(studies), format), std::move(s),
                     std::move(plan));
}

py::dict RunLists(const py::list& names, const py::list& ids, const korvelan::MetaOptions& options,
                  const py::dict& settings) {
  if (names.size() != ids.size()) throw py::value_error("one name per ranked list is needed");
  std::vector<korvelan::Study> studies(names.size());
  const std::vector<std::string> study_names = Utf8Strings(names, "study name");
  for (std::size_t j = 0; j < studies.size(); ++j) {
    studies[j].name = study_names[j];
    studies[j].ids =
        Utf8Strings(ids[j].cast<py::list>(), "study \"" + study_names[j] + "\", gene id");
  }
  return RunAndConvert(std::move(studies), options, "lists", settings);
}

py::dict RunTable(const py::list& genes, const py::list& study_names,
                  const py::array_t<double, py::array::f_style | py::array::forcecast>& values,
                  const korvelan::MetaOptions& options, const py::dict& settings) {
  korvelan::GeneTable table;
  table.genes = Utf8Strings(genes, "gene id");
  table.studies = Utf8Strings(study_names, "study name");
  const double* data = values.data();
  table.values.assign(data, data + values.size());
  return RunAndConvert(korvelan::StudiesFromTable(table), options, "table", settings);
}

py::dict RunLong(const py::list& study, const py::list& gene,
                 const py::array_t<double, py::array::c_style | py::array::forcecast>& value,
                 const korvelan::MetaOptions& options, const py::dict& settings) {
  korvelan::LongTable table;
  table.study = Utf8Strings(study, "column 'study', row");
  table.gene = Utf8Strings(gene, "column 'gene', row");
  const double* data = value.data();
  table.value.assign(data, data + value.size());
  return RunAndConvert(korvelan::StudiesFromLong(table), options, "long", settings);
}

// Files or a study sheet, read by the library as korvelan-meta reads them.
korvelan::StudyInput ReadFiles(const py::list& files, const std::string& sheet,
                               const py::dict& settings) {
  std::vector<std::filesystem::path> paths;
  for (const std::string& f : Utf8Strings(files, "file")) paths.emplace_back(f);
  return korvelan::ReadStudies(paths, sheet, SettingsOf(settings));
}

// Tables in memory: (study, [(column name, numeric, values)...]) each;
// numeric values a float64 array, text a list of str.
korvelan::StudyInput ReadTables(const py::list& tables, const py::dict& settings) {
  std::vector<korvelan::MemoryTable> memory;
  for (const py::handle item : tables) {
    const auto t = item.cast<py::tuple>();
    korvelan::MemoryTable table;
    table.study = t[0].cast<std::string>();
    for (const py::handle c : t[1].cast<py::list>()) {
      const auto column = c.cast<py::tuple>();
      korvelan::TableColumn one;
      one.name = column[0].cast<std::string>();
      one.numeric = column[1].cast<bool>();
      if (one.numeric) {
        const auto values =
            column[2].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
        one.numbers.assign(values.data(), values.data() + values.size());
      } else {
        one.text = Utf8Strings(column[2].cast<py::list>(),
                               "study \"" + table.study + "\", column \"" + one.name + "\", row");
      }
      table.columns.push_back(std::move(one));
    }
    memory.push_back(std::move(table));
  }
  return korvelan::ReadStudyTables(memory, SettingsOf(settings));
}

// What was read, analysed with the settings; `options` holds what the
// settings cannot say in text (weights, a universe of ids, per-study
// settings), each taken when given.
py::dict RunInput(const korvelan::StudyInput& input, const py::dict& settings, std::int32_t seed,
                  unsigned threads, const korvelan::MetaOptions& options) {
  korvelan::RunSettings s = SettingsOf(settings);
  korvelan::SortColumn(s);
  korvelan::RunPlan plan = korvelan::SettleOptions(input, s, seed, threads);
  if (!options.weights.empty()) plan.options.weights = options.weights;
  if (options.universe_size > 0) plan.options.universe_size = options.universe_size;
  if (!options.universe_ids.empty()) {
    if (plan.options.absent != korvelan::Absent::kBelow && input.format() != "sheet") {
      throw py::value_error("universe applies to absent=\"below\", not to absent=\"" + plan.absent +
                            "\"");
    }
    plan.options.universe_ids = options.universe_ids;
  }
  if (!options.study_settings.empty()) plan.options.study_settings = options.study_settings;
  return RunRecorded(input, std::move(s), std::move(plan));
}

// The shared options as Python sees them: name (Python's spelling), the
// command line's name, kind, words or limits, default and help.
py::list SharedOptions() {
  py::list options;
  for (const korvelan::OptionSpec& o : korvelan::SharedOptions()) {
    py::dict one;
    one["name"] = korvelan::HostName(o.name);
    one["cli_name"] = std::string(o.name);
    const bool whole = o.kind == korvelan::OptionKind::kWhole;
    one["kind"] = whole ? "whole" : "word";
    py::list words;
    for (std::string_view w : o.words) words.append(std::string(w));
    one["values"] = words;
    one["low"] = whole ? py::object(py::int_(o.low)) : py::object(py::none());
    one["high"] = whole ? py::object(py::int_(o.high)) : py::object(py::none());
    one["default"] = o.default_value.empty() ? py::object(py::none())
                                             : py::object(py::str(std::string(o.default_value)));
    one["help"] = std::string(o.help);
    options.append(one);
  }
  return options;
}

// None when the option allows `text` (a word, or a whole number's decimal
// digits); otherwise the refusal after the option's name.
py::object OptionProblem(const std::string& name, const std::string& text) {
  const std::string problem = korvelan::OptionProblem(korvelan::SharedOption(name), text);
  return problem.empty() ? py::object(py::none()) : py::object(py::str(problem));
}

}  // namespace

}  // namespace korvelan_python

PYBIND11_MODULE(_korvelan, m) {
  using namespace korvelan_python;
  m.doc() = "KORVELAN's meta-analysis layer (korvelan::RunMeta); use korvelan.analyze().";
  m.attr("VERSION") = korvelan::kVersion;
  // Unreadable or malformed inputs and refused settings: ValueError with
  // the library's message (it names the file and line, or the study).
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const korvelan::InputError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
  m.attr("MAX_SEED") = korvelan::kMaxSeed;
  m.attr("MAX_STUDIES") = korvelan::kMaxStudies;
  m.attr("MAX_GENES") = korvelan::kMaxGenes;
  m.attr("MAX_UNIVERSE") = korvelan::kMaxUniverse;
  m.def("shared_options", &SharedOptions, "The options every front end shares, from the library.");
  m.def("option_problem", &OptionProblem, py::arg("name"), py::arg("text"),
        "None when the option allows the value (text), else why not.");
  m.def("default_threads", &korvelan::DefaultThreads,
        "One thread per processor this process may use.");

  py::class_<korvelan::MetaOptions>(m, "Options")
      .def(py::init(&MakeOptions), py::kw_only(), py::arg("absent"), py::arg("universe_size"),
           py::arg("universe_ids"), py::arg("duplicates"), py::arg("min_studies"),
           py::arg("pvalues"), py::arg("weights"), py::arg("runs"), py::arg("seed"),
           py::arg("threads"), py::arg("study_settings") = py::list());

  py::class_<korvelan::StudyInput>(m, "StudyInput")
      .def_property_readonly("format", &korvelan::StudyInput::format)
      .def_property_readonly("studies",
                             [](const korvelan::StudyInput& i) {
                               std::vector<std::string> names;
                               for (const korvelan::Study& s : i.studies()) names.push_back(s.name);
                               return names;
                             })
      .def_property_readonly("top_lists", &korvelan::StudyInput::top_lists)
      .def("table_lines", &korvelan::StudyInput::TableLines)
      .def("warnings", &korvelan::StudyInput::Warnings);
  py::class_<RunRecord, std::shared_ptr<RunRecord>>(m, "RunRecord")
      .def("json", &RunRecord::Json, "run.json's text")
      .def("page", &RunRecord::Page, "report.html's text")
      // Immutable: a copy is the same record.
      .def("__copy__", [](py::object self) { return self; })
      .def("__deepcopy__", [](py::object self, py::handle) { return self; });

  m.def("read_files", &ReadFiles, py::arg("files"), py::arg("sheet"), py::arg("settings"),
        "Input files or a study sheet, as korvelan-meta reads them.");
  m.def("read_tables", &ReadTables, py::arg("tables"), py::arg("settings"),
        "Differential-expression tables in memory: (study, [(name, numeric, values)]).");
  m.def("run_input", &RunInput, py::arg("input"), py::arg("settings"), py::arg("seed"),
        py::arg("threads"), py::arg("options"), "What read_files or read_tables read, analysed.");

  // The matrix-shaped inputs may be large: their conversion from Python
  // objects happens here, with the GIL held; only the analysis releases it.
  m.def("run_lists", &RunLists, py::arg("names"), py::arg("ids"), py::arg("options"),
        py::arg("settings"), "Studies as ranked lists of ids, best first.");
  m.def("run_table", &RunTable, py::arg("genes"), py::arg("studies"), py::arg("values"),
        py::arg("options"), py::arg("settings"),
        "A genes x studies table of ranks (column-major), NaN not ranked.");
  m.def("run_long", &RunLong, py::arg("study"), py::arg("gene"), py::arg("value"),
        py::arg("options"), py::arg("settings"), "A long table: study, gene, rank per row.");
}
