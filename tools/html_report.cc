#include "tools/html_report.h"

#include <cmath>
#include <stdexcept>

#include "textio/utf8.h"
#include "tools/number_text.h"
#include "tools/report_page_assets.h"
#include "tools/svg_figure.h"

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

void AppendNumbers(std::string& json, const char* name, const std::vector<HtmlReportGene>& genes,
                   double (*field)(const HtmlReportGene&)) {
  json += ",\"";
  json += name;
  json += "\":[";
  for (std::size_t i = 0; i < genes.size(); ++i) {
    if (i > 0) json += ',';
    json += JsonNumber(field(genes[i]));
  }
  json += ']';
}

void AppendColumns(std::string& json, const char* name, const std::vector<HtmlReportGene>& genes,
                   const std::array<double, 6> HtmlReportGene::*member) {
  json += ",\"";
  json += name;
  json += "\":[";
  for (std::size_t c = 0; c < 6; ++c) {
    json += c > 0 ? ",[" : "[";
    for (std::size_t i = 0; i < genes.size(); ++i) {
      if (i > 0) json += ',';
      json += JsonNumber((genes[i].*member)[c]);
    }
    json += ']';
  }
  json += ']';
}

std::string DataJson(const HtmlReportData& data) {
  const std::vector<HtmlReportGene>& genes = data.genes;
  std::string json = "{\"title\":" + JsonString(data.title) + ",\"facts\":[";
  for (std::size_t i = 0; i < data.facts.size(); ++i) {
    if (i > 0) json += ',';
    json += '[';
    json += JsonString(data.facts[i].first);
    json += ',';
    json += JsonString(data.facts[i].second);
    json += ']';
  }
  json += "],\"studies\":[";
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
  json += "],\"klass\":[";
  for (std::size_t i = 0; i < genes.size(); ++i) {
    if (i > 0) json += ',';
    json += std::to_string(genes[i].klass);
  }
  json += "],\"n\":[";
  for (std::size_t i = 0; i < genes.size(); ++i) {
    if (i > 0) json += ',';
    json += std::to_string(genes[i].n_studies);
  }
  json += "],\"ranks\":[";
  bool first = true;
  for (const HtmlReportGene& gene : genes) {
    for (std::size_t s = 0; s < data.studies.size(); ++s) {
      if (!first) json += ',';
      first = false;
      json += JsonNumber(s < gene.ranks.size() ? gene.ranks[s] : std::nan(""));
    }
  }
  json += ']';
  AppendNumbers(json, "rmean", genes, [](const HtmlReportGene& g) { return g.r_mean; });
  AppendNumbers(json, "rwmean", genes, [](const HtmlReportGene& g) { return g.r_wmean; });
  AppendNumbers(json, "q", genes, [](const HtmlReportGene& g) { return g.q; });
  AppendColumns(json, "p", genes, &HtmlReportGene::p);
  AppendColumns(json, "qv", genes, &HtmlReportGene::q_values);
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

std::string JsonNumber(double value) {
  if (std::isnan(value)) return "null";
  if (std::isinf(value)) return value > 0 ? "1e999" : "-1e999";
  return FormatShortest(value);
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
