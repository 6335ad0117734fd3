#include "common/html_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "korvelan/meta.h"

#include "textio/utf8.h"
#include "common/number_text.h"
#include "common/page_columns.h"
#include "common/report_page_assets.h"

namespace korvelan::tools {
namespace {

void AppendHex4(std::string& out, unsigned value) {
  constexpr char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// Appends `template_text` up to `marker`, then `content`; returns the rest.
std::string_view Fill(std::string& out, std::string_view template_text, std::string_view marker,
                      std::string_view content) {
  const std::size_t at = template_text.find(marker);
  if (at == std::string_view::npos) {
    throw std::logic_error("report page template lacks " + std::string(marker));
  }
  out += template_text.substr(0, at);
  out += content;
  return template_text.substr(at + marker.size());
}

void AppendName(std::string& json, const char* name) {
  json += ",\"";
  json += name;
  json += "\":";
}

// `add(texts, gene)` adds the gene's number to the column's texts.
template <typename Add>
void AppendNumbers(std::string& json, const char* name, const std::vector<HtmlReportGene>& genes,
                   Add add) {
  AppendName(json, name);
  JsonTexts texts(genes.size());
  for (const HtmlReportGene& g : genes) add(texts, g);
  json += TextColumn(texts);
}

void AppendColumns(std::string& json, const char* name, const std::vector<HtmlReportGene>& genes,
                   const std::array<double, 6> HtmlReportGene::*member, bool floats,
                   const std::vector<double>& denominators) {
  AppendName(json, name);
  json += '[';
  for (std::size_t c = 0; c < 6; ++c) {
    if (c > 0) json += ',';
    std::vector<double> values;
    values.reserve(genes.size());
    for (const HtmlReportGene& g : genes) values.push_back((g.*member)[c]);
    if (!floats && !denominators.empty()) {
      if (const auto fractions = FractionColumn(values, denominators)) {
        json += *fractions;
        continue;
      }
    }
    JsonTexts texts(genes.size());
    for (double v : values) floats ? texts.AddFloat(v) : texts.AddNumber(v);
    json += TextColumn(texts);
  }
  json += ']';
}

void AppendPairs(std::string& json, const std::vector<std::pair<std::string, std::string>>& pairs) {
  json += '[';
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) json += ',';
    json += '[';
    json += JsonString(pairs[i].first);
    json += ',';
    json += JsonString(pairs[i].second);
    json += ']';
  }
  json += ']';
}

// Gene-major per-study numbers (ranks, fold changes): a short row pads
// with NaN, a long one is cut, so the table stays rectangular.
void AppendPerStudy(std::string& json, const char* name, const HtmlReportData& data,
                    const std::vector<double> HtmlReportGene::*member) {
  AppendName(json, name);
  std::vector<double> values;
  values.reserve(data.genes.size() * data.studies.size());
  for (const HtmlReportGene& gene : data.genes) {
    const std::vector<double>& own = gene.*member;
    for (std::size_t s = 0; s < data.studies.size(); ++s)
      values.push_back(s < own.size() ? own[s] : std::nan(""));
  }
  json += HalvesColumn(values);
}

void AppendSigned(std::string& json, const HtmlReportData& data) {
  const std::vector<HtmlReportGene>& genes = data.genes;
  if (data.directional) {
    AppendNumbers(json, "dir", genes,
                  [](JsonTexts& t, const HtmlReportGene& g) { t.AddWhole(g.direction); });
    AppendNumbers(json, "nup", genes,
                  [](JsonTexts& t, const HtmlReportGene& g) { t.AddWhole(g.n_up); });
    AppendNumbers(json, "ndown", genes,
                  [](JsonTexts& t, const HtmlReportGene& g) { t.AddWhole(g.n_down); });
  }
  if (data.fold_changes) {
    AppendPerStudy(json, "lfc", data, &HtmlReportGene::fold_changes);
    AppendNumbers(json, "lfcmean", genes,
                  [](JsonTexts& t, const HtmlReportGene& g) { t.AddNumber(g.fold_change_mean); });
  }
}

std::string DataJson(const HtmlReportData& data) {
  const std::vector<HtmlReportGene>& genes = data.genes;
  std::string json = "{\"title\":" + JsonString(data.title) + ",\"facts\":";
  AppendPairs(json, data.facts);
  json += ",\"legend\":";
  AppendPairs(json, data.legend);
  json += ",\"methods\":" + JsonString(data.methods) + ",\"sort\":" + std::to_string(data.sort_by);
  json += ",\"studies\":[";
  for (std::size_t s = 0; s < data.studies.size(); ++s) {
    if (s > 0) json += ',';
    json += JsonString(data.studies[s]);
  }
  json += "],\"sizes\":[";
  for (std::size_t s = 0; s < data.studies.size(); ++s) {
    if (s > 0) json += ',';
    json += s < data.study_sizes.size() ? std::to_string(data.study_sizes[s]) : "0";
  }
  json += "],\"gene\":[";
  for (std::size_t i = 0; i < genes.size(); ++i) {
    if (i > 0) json += ',';
    json += JsonString(genes[i].gene);
  }
  json += ']';
  AppendNumbers(json, "klass", genes,
                [](JsonTexts& t, const HtmlReportGene& g) { t.AddWhole(g.info_class); });
  AppendNumbers(json, "n", genes,
                [](JsonTexts& t, const HtmlReportGene& g) { t.AddWhole(g.n_studies); });
  AppendPerStudy(json, "ranks", data, &HtmlReportGene::ranks);
  const bool floats = data.float_statistics;
  auto statistic = [floats](JsonTexts& t, double v) { floats ? t.AddFloat(v) : t.AddNumber(v); };
  AppendNumbers(json, "rmean", genes,
                [&](JsonTexts& t, const HtmlReportGene& g) { statistic(t, g.r_mean); });
  AppendNumbers(json, "rwmean", genes,
                [&](JsonTexts& t, const HtmlReportGene& g) { statistic(t, g.r_wmean); });
  AppendNumbers(json, "q", genes, [&](JsonTexts& t, const HtmlReportGene& g) { statistic(t, g.q); });
  std::vector<double> denominators;
  denominators.reserve(genes.size());
  for (const HtmlReportGene& g : genes) denominators.push_back(g.p_denominator);
  if (std::all_of(denominators.begin(), denominators.end(), [](double d) { return d == 0; }))
    denominators.clear();
  if (!denominators.empty()) {
    AppendNumbers(json, "pden", genes,
                  [](JsonTexts& t, const HtmlReportGene& g) { t.AddNumber(g.p_denominator); });
  }
  AppendColumns(json, "p", genes, &HtmlReportGene::p, data.float_pvalues, denominators);
  AppendColumns(json, "qv", genes, &HtmlReportGene::q_values, false, {});
  AppendNumbers(json, "excluded", genes,
                [](JsonTexts& t, const HtmlReportGene& g) { t.AddWhole(g.excluded ? 1 : 0); });
  AppendSigned(json, data);
  json += '}';
  return json;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  while (!text.empty()) {
    unsigned code_point = 0;
    std::size_t length = textio::Utf8Length(text, code_point);
    if (length == 0) {
      AppendHex4(out, 0xFFFD);
      text.remove_prefix(1);
      continue;
    }
    // <, > and & as escapes: no "</script", "<!--" or "-->" can appear in
    // the block; U+2028/2029 end lines in older script parsers.
    if (code_point == '"' || code_point == '\\') {
      out += '\\';
      out += static_cast<char>(code_point);
    } else if (code_point < 0x20 || code_point == '<' || code_point == '>' || code_point == '&' ||
               code_point == 0x2028 || code_point == 0x2029) {
      AppendHex4(out, code_point);
    } else {
      out += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  out += '"';
  return out;
}

void AppendJsonNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "null";
  } else if (std::isinf(value)) {
    out += value > 0 ? "1e999" : "-1e999";
  } else {
    char buffer[32];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
  }
}

void AppendJsonFloat(std::string& out, double value) {
  if (std::isnan(value) || std::isinf(value)) return AppendJsonNumber(out, value);
  char buffer[32];
  out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value)).ptr);
}

std::string JsonNumber(double value) {
  std::string text;
  AppendJsonNumber(text, value);
  return text;
}

std::string JsonFloat(double value) {
  std::string text;
  AppendJsonFloat(text, value);
  return text;
}

std::string EscapeXml(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string HtmlReport(const HtmlReportData& data) {
  std::string_view rest(page_assets::kPageHtml, page_assets::kPageHtmlSize);
  const std::string json = DataJson(data);
  std::string page;
  page.reserve(rest.size() + page_assets::kPageCssSize + page_assets::kPageJsSize + json.size() +
               data.title.size());
  rest = Fill(page, rest, "<!--KORVELAN:TITLE-->", EscapeXml(data.title));
  rest = Fill(page, rest, "/*KORVELAN:STYLE*/",
              std::string_view(page_assets::kPageCss, page_assets::kPageCssSize));
  rest = Fill(page, rest, "KORVELAN:DATA", json);
  rest = Fill(page, rest, "/*KORVELAN:SCRIPT*/",
              std::string_view(page_assets::kPageJs, page_assets::kPageJsSize));
  page += rest;
  return page;
}

}  // namespace korvelan::tools
