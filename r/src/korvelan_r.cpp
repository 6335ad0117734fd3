// The R package's one entry into the library: studies and options in (as
// R's korvelan() has shaped them), korvelan::RunMeta, the results table out
// as a list of columns named by korvelan::ResultColumns.
//
// R may only be called from the thread R runs on. RunMeta therefore runs on
// a thread of its own, with only C++ data (every R object is read before it
// starts and built after it ends); R's thread waits in slices of 50 ms,
// drawing the progress bar and polling R's interrupt flag. An interrupt
// requests the stop through the worker's stop token, the worker is joined,
// and only then, with no C++ object of this call alive, does R code signal
// the interrupt: nothing here longjmps across C++ frames.
#include <Rcpp.h>
#include <R_ext/Altrep.h>
#include <R_ext/Rdynload.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "korvelan/inputs.h"
#include "korvelan/korvelan.h"

// The package's compile rules put -fno-fast-math after R's and the user's
// flags; a compiler command that itself switches fast-math on (R's CXX20
// with the flag in it) would still win: refuse to build then.
#ifdef __FAST_MATH__
#error "korvelan must not be compiled with fast math: its P-values need exact IEEE arithmetic"
#endif

namespace {

// Each string's bytes as they are, as Rcpp::as<std::string> takes them
// (the R code gives ids and names as UTF-8, enc2utf8, and refuses NA), but
// without Rcpp's proxy object per element. NULL is no strings.
std::vector<std::string> Strings(SEXP x) {
  if (x == R_NilValue) return {};
  if (TYPEOF(x) != STRSXP) throw std::invalid_argument("korvelan: a character vector was expected");
  const R_xlen_t n = XLENGTH(x);
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(n));
  for (R_xlen_t i = 0; i < n; ++i) {
    const SEXP one = STRING_ELT(x, i);
    out.emplace_back(CHAR(one), static_cast<std::size_t>(LENGTH(one)));
  }
  return out;
}

// R's NA (a NaN with a payload) and NaN both mean "not ranked": the library
// takes any NaN.
std::vector<double> Doubles(SEXP x) { return Rcpp::as<std::vector<double>>(x); }

// The studies, from one of the three shapes korvelan() passes on.
std::vector<korvelan::Study> ReadStudies(const Rcpp::List& input) {
  const std::string shape = Rcpp::as<std::string>(input["shape"]);
  if (shape == "lists") {
    const Rcpp::List lists = input["lists"];
    const std::vector<std::string> names = Strings(input["names"]);
    std::vector<korvelan::Study> studies(names.size());
    for (std::size_t j = 0; j < names.size(); ++j) {
      studies[j].name = names[j];
      studies[j].ids = Strings(lists[static_cast<R_xlen_t>(j)]);
    }
    return studies;
  }
  if (shape == "table") {
    korvelan::GeneTable table;
    table.genes = Strings(input["genes"]);
    table.studies = Strings(input["studies"]);
    table.values = Doubles(input["values"]);
    return korvelan::StudiesFromTable(table);
  }
  if (shape == "long") {
    korvelan::LongTable table;
    table.study = Strings(input["study"]);
    table.gene = Strings(input["gene"]);
    table.value = Doubles(input["value"]);
    return korvelan::StudiesFromLong(table);
  }
  throw std::invalid_argument("unknown input shape \"" + shape + "\"");
}

korvelan::MetaOptions ReadOptions(const Rcpp::List& o) {
  korvelan::MetaOptions options;
  const std::string absent = Rcpp::as<std::string>(o["absent"]);
  options.absent = korvelan::AbsentFromWord(absent);
  // R passes the size as a double: it may exceed R's integers.
  options.universe_size = static_cast<std::int64_t>(Rcpp::as<double>(o["universe_size"]));
  options.universe_ids = Strings(o["universe_ids"]);
  options.min_studies = Rcpp::as<std::int32_t>(o["min_studies"]);
  options.pvalues = korvelan::PValuesFromWord(Rcpp::as<std::string>(o["pvalues"]));
  options.duplicates = korvelan::DuplicatesFromWord(Rcpp::as<std::string>(o["duplicates"]));
  options.weights = Doubles(o["weights"]);
  options.runs = Rcpp::as<std::int32_t>(o["runs"]);
  options.seed = Rcpp::as<std::int32_t>(o["seed"]);
  options.threads = Rcpp::as<unsigned>(o["threads"]);
  // Per study: absent ("" for the common one), universe size and ids.
  const std::vector<std::string> absent_of = Strings(o["study_absent"]);
  const std::vector<double> size_of = Doubles(o["study_universe_size"]);
  const Rcpp::List ids_of(o["study_universe_ids"]);
  for (std::size_t j = 0; j < absent_of.size(); ++j) {
    korvelan::StudySettings one;
    if (!absent_of[j].empty()) {
      one.absent = korvelan::AbsentFromWord(absent_of[j]);
    }
    one.universe_size = static_cast<std::int64_t>(size_of[j]);
    one.universe_ids = Strings(ids_of[static_cast<R_xlen_t>(j)]);
    options.study_settings.push_back(std::move(one));
  }
  return options;
}

// R_CheckUserInterrupt longjmps when an interrupt is pending; R_ToplevelExec
// turns that jump into a FALSE return inside R's own context machinery.
void CheckInterrupt(void*) { R_CheckUserInterrupt(); }
bool InterruptPending() { return R_ToplevelExec(CheckInterrupt, nullptr) == FALSE; }

// A text bar on R's console (standard error side), redrawn when it moves.
class ProgressBar {
 public:
  explicit ProgressBar(bool shown) : shown_(shown) {}
  void Show(std::int32_t done, std::int32_t total) {
    if (!shown_ || total <= 0) return;
    const int width = 40;
    const int filled = static_cast<int>(static_cast<std::int64_t>(done) * width / total);
    const int percent = static_cast<int>(static_cast<std::int64_t>(done) * 100 / total);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    std::string bar(static_cast<std::size_t>(filled), '=');
    bar.append(static_cast<std::size_t>(width - filled), ' ');
    REprintf("\r|%s| %3d%% (%d of %d runs)", bar.c_str(), percent, done, total);
  }
  void Finish() {
    if (shown_ && last_percent_ >= 0) REprintf("\n");
  }

 private:
  bool shown_;
  int last_percent_ = -1;
};

// Runs RunMeta on its own thread; returns false when R's interrupt stopped it.
bool RunWatched(const std::vector<korvelan::Study>& studies, korvelan::MetaOptions options,
                bool verbose, korvelan::MetaResults& results) {
  std::mutex mutex;
  std::condition_variable finished_cv;
  bool finished = false;
  std::atomic<std::int32_t> done{0};
  std::exception_ptr failure;
  options.progress = [&done](std::int32_t d, std::int32_t) { done.store(d); };
  ProgressBar bar(verbose);
  const std::int32_t total = options.runs;
  bool interrupted = false;
  {
    // A jthread: should anything below throw, its destructor still stops
    // and joins the worker before the data it reads go away.
    std::jthread worker([&](std::stop_token stop) {
      options.stop = stop;
      try {
        results = korvelan::RunMeta(studies, options);
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
      finished_cv.notify_one();
    });
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (finished_cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished; }))
          break;
      }
      bar.Show(done.load(), total);
      if (!interrupted && InterruptPending()) {
        interrupted = true;
        worker.request_stop();
      }
    }
    worker.join();
  }
  if (interrupted) {
    bar.Finish();
    return false;
  }
  if (failure) std::rethrow_exception(failure);
  bar.Show(total, total);
  bar.Finish();
  return true;
}

// R's NA_real_ is a NaN with a payload; the library's NaN becomes it, as
// results.tsv writes NA.
Rcpp::NumericVector NumericColumn(std::span<const double> v) {
  Rcpp::NumericVector out(static_cast<R_xlen_t>(v.size()));
  double* to = REAL(out);
  for (std::size_t i = 0; i < v.size(); ++i) to[i] = std::isnan(v[i]) ? NA_REAL : v[i];
  return out;
}

// Marked as UTF-8, the library's encoding of every id.
Rcpp::CharacterVector TextColumn(const std::vector<std::string>& v) {
  Rcpp::CharacterVector out(static_cast<R_xlen_t>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i) {
    SET_STRING_ELT(out, static_cast<R_xlen_t>(i),
                   Rf_mkCharLenCE(v[i].data(), static_cast<int>(v[i].size()), CE_UTF8));
  }
  return out;
}

// The columns of results.tsv, in its order and with its names.
Rcpp::List ResultList(const korvelan::MetaResults& r) {
  const std::vector<std::string> names = korvelan::ResultColumns(r);
  const std::size_t genes = r.genes.size();
  const std::size_t studies = r.studies.size();
  // Study j's column of a genes x studies matrix, in place.
  const auto column = [genes](const std::vector<double>& m, std::size_t j) {
    return std::span<const double>(m).subspan(j * genes, genes);
  };
  Rcpp::List columns(names.size());
  std::size_t c = 0;
  columns[c++] = TextColumn(r.genes);
  columns[c++] = Rcpp::wrap(r.n_studies);
  for (std::size_t j = 0; j < studies; ++j) columns[c++] = NumericColumn(column(r.ranks, j));
  columns[c++] = NumericColumn(r.r_mean);
  columns[c++] = NumericColumn(r.r_wmean);
  columns[c++] = NumericColumn(r.q);
  for (int k = 0; k < korvelan::kPValues; ++k) columns[c++] = NumericColumn(r.p[k]);
  for (int k = 0; k < korvelan::kPValues; ++k) columns[c++] = NumericColumn(r.q_values[k]);
  if (r.directional) {
    Rcpp::CharacterVector direction(genes);
    const std::string_view up_name = korvelan::DirectionName(korvelan::kUp);
    const std::string_view down_name = korvelan::DirectionName(korvelan::kDown);
    const SEXP up =
        PROTECT(Rf_mkCharLenCE(up_name.data(), static_cast<int>(up_name.size()), CE_UTF8));
    const SEXP down =
        PROTECT(Rf_mkCharLenCE(down_name.data(), static_cast<int>(down_name.size()), CE_UTF8));
    for (std::size_t i = 0; i < genes; ++i) {
      SET_STRING_ELT(direction, static_cast<R_xlen_t>(i),
                     r.direction[i] == korvelan::kUp     ? up
                     : r.direction[i] == korvelan::kDown ? down
                                                         : NA_STRING);
    }
    UNPROTECT(2);
    columns[c++] = direction;
    columns[c++] = Rcpp::wrap(r.n_up);
    columns[c++] = Rcpp::wrap(r.n_down);
  }
  if (r.has_fold_changes) {
    for (std::size_t j = 0; j < studies; ++j) {
      columns[c++] = NumericColumn(column(r.fold_changes, j));
    }
    columns[c++] = NumericColumn(r.fold_change_mean);
  }
  if (c != names.size()) {
    throw std::logic_error("korvelan: the results have " + std::to_string(c) +
                           " columns, their names " + std::to_string(names.size()));
  }
  columns.names() = TextColumn(names);
  return Rcpp::List::create(Rcpp::Named("status") = "ok", Rcpp::Named("columns") = columns,
                            Rcpp::Named("runs") = r.runs, Rcpp::Named("seed") = r.seed,
                            Rcpp::Named("universe") = static_cast<double>(r.universe),
                            Rcpp::Named("genes_analysed") = r.genes_analysed,
                            Rcpp::Named("classes") = r.classes, Rcpp::Named("version") = r.version);
}

// A text R reads only now and then (run.json's, the page's: the page of
// 8000 genes takes as long as 8 % of their analysis), made from the run's
// record when R first reads it: an ALTREP character vector of length 1.
// data1 holds the maker (an external pointer), data2 the text once made,
// after which the maker and its share of the record are freed. Saved
// (saveRDS, save), it is written as the plain text, as R writes an ALTREP
// object without a serialized state, so a result read back needs neither
// the record nor this package's class.
class LazyText {
 public:
  explicit LazyText(std::function<std::string()> make) : make_(std::move(make)) {}

  // Makes the text; nullptr, or the message of the failure (held here, in
  // a fixed buffer: nothing may throw out of an R method).
  const char* Make() noexcept {
    try {
      if (!make_) throw std::logic_error("the text was made before");
      text_ = make_();
      if (text_.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw std::length_error("the text is longer than an R string can be");
      }
    } catch (const std::exception& e) {
      std::snprintf(failure_, sizeof failure_, "%s", e.what());
      return failure_;
    } catch (...) {
      std::snprintf(failure_, sizeof failure_, "%s", "the text could not be made");
      return failure_;
    }
    return nullptr;
  }
  const std::string& text() const { return text_; }
  void Release() {
    make_ = nullptr;
    std::string().swap(text_);
  }

 private:
  std::function<std::string()> make_;
  std::string text_;
  char failure_[512] = {};
};

R_altrep_class_t lazy_text_class;

void FreeLazyText(SEXP pointer) {
  delete static_cast<LazyText*>(R_ExternalPtrAddr(pointer));
  R_ClearExternalPtr(pointer);
}

// The text as a plain character vector, made on first use. No C++ object
// lives in this frame, so R's errors (allocation, the failure) may jump
// out of it.
SEXP MadeText(SEXP x) {
  SEXP made = R_altrep_data2(x);
  if (made != R_NilValue) return made;
  auto* lazy = static_cast<LazyText*>(R_ExternalPtrAddr(R_altrep_data1(x)));
  if (lazy == nullptr) Rf_error("korvelan: the run's text is gone");
  if (const char* failure = lazy->Make()) Rf_error("korvelan: %s", failure);
  made = PROTECT(Rf_allocVector(STRSXP, 1));
  SET_STRING_ELT(
      made, 0, Rf_mkCharLenCE(lazy->text().data(), static_cast<int>(lazy->text().size()), CE_UTF8));
  R_set_altrep_data2(x, made);
  UNPROTECT(1);
  lazy->Release();
  return made;
}

R_xlen_t LazyTextLength(SEXP) { return 1; }
SEXP LazyTextElt(SEXP x, R_xlen_t i) { return STRING_ELT(MadeText(x), i); }
void LazyTextSetElt(SEXP x, R_xlen_t i, SEXP value) { SET_STRING_ELT(MadeText(x), i, value); }
void* LazyTextDataptr(SEXP x, Rboolean) { return DATAPTR(MadeText(x)); }
const void* LazyTextDataptrOrNull(SEXP x) {
  const SEXP made = R_altrep_data2(x);
  return made == R_NilValue ? nullptr : DATAPTR(made);
}
Rboolean LazyTextInspect(SEXP x, int, int, int, void (*)(SEXP, int, int, int)) {
  Rprintf(" korvelan text (%s)\n", R_altrep_data2(x) == R_NilValue ? "not made yet" : "made");
  return TRUE;
}

void RegisterLazyText(DllInfo* dll) {
  lazy_text_class = R_make_altstring_class("korvelan_text", "korvelan", dll);
  R_set_altrep_Length_method(lazy_text_class, LazyTextLength);
  R_set_altrep_Inspect_method(lazy_text_class, LazyTextInspect);
  R_set_altvec_Dataptr_method(lazy_text_class, LazyTextDataptr);
  R_set_altvec_Dataptr_or_null_method(lazy_text_class, LazyTextDataptrOrNull);
  R_set_altstring_Elt_method(lazy_text_class, LazyTextElt);
  R_set_altstring_Set_elt_method(lazy_text_class, LazyTextSetElt);
}

SEXP NewLazyText(std::function<std::string()> make) {
  auto owned = std::make_unique<LazyText>(std::move(make));
  const SEXP pointer = PROTECT(R_MakeExternalPtr(owned.get(), R_NilValue, R_NilValue));
  owned.release();  // the pointer's finalizer owns it now
  R_RegisterCFinalizerEx(pointer, FreeLazyText, TRUE);
  const SEXP text = R_new_altrep(lazy_text_class, pointer, R_NilValue);
  UNPROTECT(1);
  return text;
}

// korvelan()'s arguments in korvelan-meta's words (RunSettings): a named
// list of strings, and min_studies and runs as (whole) numbers.
korvelan::RunSettings SettingsOf(const Rcpp::List& l) {
  korvelan::RunSettings s;
  const Rcpp::CharacterVector names = l.names();
  for (R_xlen_t k = 0; k < l.size(); ++k) {
    const SEXP value = l[k];
    const std::string text = TYPEOF(value) == STRSXP
                                 ? Rcpp::as<std::string>(value)
                                 : std::to_string(static_cast<long long>(Rcpp::as<double>(value)));
    korvelan::SetRunSetting(s, Rcpp::as<std::string>(names[k]), text);
  }
  return s;
}

// list(shape = "files", files, sheet) or list(shape = "frames", tables):
// each table list(study, columns), columns a named list of character or
// double vectors.
korvelan::StudyInput ReadInput(const Rcpp::List& input, const korvelan::RunSettings& settings) {
  if (Rcpp::as<std::string>(input["shape"]) == "files") {
    std::vector<std::filesystem::path> files;
    for (const std::string& f : Strings(input["files"])) files.emplace_back(f);
    return korvelan::ReadStudies(files, Rcpp::as<std::string>(input["sheet"]), settings);
  }
  std::vector<korvelan::MemoryTable> tables;
  for (const SEXP item : Rcpp::List(input["tables"])) {
    const Rcpp::List one(item);
    korvelan::MemoryTable table;
    table.study = Rcpp::as<std::string>(one["study"]);
    const Rcpp::List columns(one["columns"]);
    const std::vector<std::string> names = Strings(columns.names());
    for (R_xlen_t c = 0; c < columns.size(); ++c) {
      korvelan::TableColumn column;
      column.name = names[static_cast<std::size_t>(c)];
      column.numeric = TYPEOF(columns[c]) == REALSXP;
      if (column.numeric) {
        column.numbers = Doubles(columns[c]);
        // R's NA is a NaN with a payload: a plain missing value here.
        for (double& v : column.numbers)
          v = std::isnan(v) ? std::numeric_limits<double>::quiet_NaN() : v;
      } else {
        column.text = Strings(columns[c]);
      }
      table.columns.push_back(std::move(column));
    }
    tables.push_back(std::move(table));
  }
  return korvelan::ReadStudyTables(tables, settings);
}

// The analysis, then the results with run.json's and report.html's text,
// made when R first reads them.
SEXP RunRecorded(const korvelan::StudyInput& input, const korvelan::RunSettings& settings,
                 korvelan::RunPlan plan, bool verbose) {
  korvelan::RunFacts facts;
  facts.program = "korvelan (R)";
  facts.started_utc = korvelan::UtcNow();
  korvelan::MetaResults results;
  if (!RunWatched(input.studies(), plan.options, verbose, results)) {
    return Rcpp::List::create(Rcpp::Named("status") = "interrupted");
  }
  plan.options.progress = nullptr;
  Rcpp::List out = ResultList(results);
  out["absent"] = plan.absent;
  // One record, shared by the two texts.
  auto record = std::make_shared<const korvelan::RunRecord>(
      korvelan::RunRecord{input, settings, std::move(plan), std::move(results), std::move(facts)});
  out["run_json"] = Rcpp::RObject(NewLazyText([record] { return record->Json(); }));
  out["report_page"] = Rcpp::RObject(NewLazyText([record] { return record->Page(); }));
  return out;
}

}  // namespace

extern "C" SEXP korvelan_run(SEXP input_sexp, SEXP options_sexp, SEXP verbose_sexp,
                             SEXP settings_sexp) {
  BEGIN_RCPP
  const Rcpp::List input(input_sexp);
  korvelan::MetaOptions options = ReadOptions(Rcpp::List(options_sexp));
  korvelan::RunPlan plan;
  plan.absent = options.absent == korvelan::Absent::kBelow ? "below" : "missing";
  plan.options = std::move(options);
  korvelan::StudyInput studies =
      korvelan::GivenStudies(ReadStudies(input), Rcpp::as<std::string>(input["shape"]));
  return RunRecorded(studies, SettingsOf(Rcpp::List(settings_sexp)), std::move(plan),
                     Rcpp::as<bool>(verbose_sexp));
  END_RCPP
}

// Files, a study sheet or DE tables, read and ranked by the library as
// korvelan-meta reads them, then analysed.
extern "C" SEXP korvelan_read_run(SEXP input_sexp, SEXP options_sexp, SEXP verbose_sexp,
                                  SEXP settings_sexp) {
  BEGIN_RCPP
  const Rcpp::List input(input_sexp);
  const korvelan::RunSettings settings = SettingsOf(Rcpp::List(settings_sexp));
  korvelan::SortColumn(settings);  // a bad sort_by before the work
  const korvelan::StudyInput studies = ReadInput(input, settings);
  const korvelan::MetaOptions given = ReadOptions(Rcpp::List(options_sexp));
  korvelan::RunPlan plan = korvelan::SettleOptions(studies, settings, given.seed, given.threads);
  // What the settings' text cannot say: weights, a universe of ids, the
  // per-study settings of `studies`.
  if (!given.weights.empty()) plan.options.weights = given.weights;
  if (!given.universe_ids.empty()) {
    if (plan.options.absent != korvelan::Absent::kBelow && studies.format() != "sheet") {
      throw korvelan::InputError("`universe` applies to absent = \"below\" only");
    }
    plan.options.universe_ids = given.universe_ids;
  }
  if (!given.study_settings.empty()) plan.options.study_settings = given.study_settings;
  return RunRecorded(studies, settings, std::move(plan), Rcpp::as<bool>(verbose_sexp));
  END_RCPP
}

// The library's shortest exact decimal of each value ("NA" for NA and NaN),
// of the value as a float when `single` (the statistics held in single
// precision): lets tests compare R's numbers with results.tsv text digit
// for digit.
extern "C" SEXP korvelan_format_number(SEXP x_sexp, SEXP single_sexp) {
  BEGIN_RCPP
  const std::vector<double> x = Doubles(x_sexp);
  const bool single = Rcpp::as<bool>(single_sexp);
  std::vector<std::string> out;
  out.reserve(x.size());
  for (double v : x) {
    out.push_back(single ? korvelan::FormatFloat(static_cast<float>(v)) : korvelan::FormatNumber(v));
  }
  return Rcpp::wrap(out);
  END_RCPP
}

// The threads korvelan-meta runs on by default (korvelan/options.h).
extern "C" SEXP korvelan_default_threads() {
  BEGIN_RCPP
  return Rcpp::wrap(static_cast<int>(korvelan::DefaultThreads()));
  END_RCPP
}

// NULL when the shared option `name` allows `text` (a word, or a whole
// number's decimal digits); otherwise the library's refusal, to follow the
// option's name.
extern "C" SEXP korvelan_option_problem(SEXP name_sexp, SEXP text_sexp) {
  BEGIN_RCPP
  const korvelan::OptionSpec& option = korvelan::SharedOption(Rcpp::as<std::string>(name_sexp));
  const std::string problem = korvelan::OptionProblem(option, Rcpp::as<std::string>(text_sexp));
  if (problem.empty()) return R_NilValue;
  return Rcpp::wrap(problem);
  END_RCPP
}

namespace {
// R's registration table stores every entry point as DL_FUNC; going through
// void (*)() is the cast compilers accept as deliberate.
template <typename F>
DL_FUNC Entry(F* f) {
  return reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(f));
}
const R_CallMethodDef kCallMethods[] = {
    {"korvelan_run", Entry(&korvelan_run), 4},
    {"korvelan_read_run", Entry(&korvelan_read_run), 4},
    {"korvelan_format_number", Entry(&korvelan_format_number), 2},
    {"korvelan_default_threads", Entry(&korvelan_default_threads), 0},
    {"korvelan_option_problem", Entry(&korvelan_option_problem), 2},
    {nullptr, nullptr, 0}};
}  // namespace

extern "C" void R_init_korvelan(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, kCallMethods, nullptr, nullptr);
  RegisterLazyText(dll);
  R_useDynamicSymbols(dll, FALSE);
}
