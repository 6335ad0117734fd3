#include "tools/report/svg_figure.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace korvelan::tools {
namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 940;
// Colour-blind-safe palette; classes beyond it reuse it in turn.
constexpr std::array<std::string_view, 8> kPalette = {
    "#0072B2", "#E69F00", "#009E73", "#CC79A7", "#56B4E9", "#D55E00", "#F0E442", "#000000",
};

// Coordinates with one decimal: enough for the eye, and short.
std::string Num(double value, int decimals = 1) {
  std::array<char, 64> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                              std::chars_format::fixed, decimals);
  std::string text(buffer.data(), result.ptr);
  if (text == "-0.0" || text == "-0") text.erase(0, 1);
  return text;
}

std::string TickLabel(double value) {
  std::array<char, 64> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                              std::chars_format::general, 6);
  return std::string(buffer.data(), result.ptr);
}

std::string Text(double x, double y, std::string_view text, std::string_view anchor = "middle",
                 int size = 12) {
  return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + std::string(anchor) +
         "\" font-size=\"" + std::to_string(size) + "\">" + EscapeXml(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2) {
  return "<line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" +
         Num(y2) + "\"/>\n";
}

struct Box {
  double x, y, width, height;  // plot area, inside the axes
};

std::string Axes(const Box& box) {
  return "<g stroke=\"#333\" stroke-width=\"1\">\n" +
         Line(box.x, box.y + box.height, box.x + box.width, box.y + box.height) +
         Line(box.x, box.y, box.x, box.y + box.height) + "</g>\n";
}

std::string Histogram(const Box& box, std::string_view title, std::span<const double> values) {
  std::array<std::size_t, kHistogramBins> counts = HistogramCounts(values);
  std::size_t present = 0;
  for (std::size_t c : counts) present += c;
  std::size_t missing = values.size() - present;
  std::size_t top = std::max<std::size_t>(1, *std::max_element(counts.begin(), counts.end()));
  std::string svg = Text(box.x + box.width / 2, box.y - 22, title, "middle", 13);
  svg += Text(box.x + box.width / 2, box.y - 8,
              "n = " + std::to_string(present) +
                  (missing > 0 ? ", NA = " + std::to_string(missing) : std::string()),
              "middle", 11);
  svg += "<g fill=\"#4a7fb5\" stroke=\"#fff\" stroke-width=\"0.5\">\n";
  double bin_width = box.width / static_cast<double>(kHistogramBins);
  for (std::size_t b = 0; b < kHistogramBins; ++b) {
    double height = box.height * static_cast<double>(counts[b]) / static_cast<double>(top);
    svg += "<rect x=\"" + Num(box.x + bin_width * static_cast<double>(b)) + "\" y=\"" +
           Num(box.y + box.height - height) + "\" width=\"" + Num(bin_width) + "\" height=\"" +
           Num(height) + "\"/>\n";
  }
  svg += "</g>\n" + Axes(box);
  for (double tick : {0.0, 0.5, 1.0}) {
    svg += Text(box.x + box.width * tick, box.y + box.height + 14, TickLabel(tick), "middle", 10);
  }
  svg += Text(box.x - 4, box.y + box.height, "0", "end", 10);
  svg += Text(box.x - 4, box.y + 8, std::to_string(top), "end", 10);
  return svg;
}

std::string Scatter(const Box& box, const std::vector<ReportRow>& rows) {
  double x_low = HUGE_VAL, x_high = -HUGE_VAL, y_high = -HUGE_VAL;
  std::map<std::int32_t, std::vector<const ReportRow*>, std::greater<>> by_class;
  for (const ReportRow& row : rows) {
    if (!std::isfinite(row.r_mean) || !std::isfinite(row.q)) continue;
    x_low = std::min(x_low, row.r_mean);
    x_high = std::max(x_high, row.r_mean);
    y_high = std::max(y_high, row.q);
    by_class[row.info_class].push_back(&row);
  }
  std::string svg = Text(box.x + box.width / 2, box.y - 10, "Q against R-mean", "middle", 13);
  svg += Axes(box);
  svg += Text(box.x + box.width / 2, box.y + box.height + 32, "R-mean", "middle", 12);
  svg += "<text x=\"" + Num(box.x - 52) + "\" y=\"" + Num(box.y + box.height / 2) +
         "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 " + Num(box.x - 52) +
         " " + Num(box.y + box.height / 2) + ")\">Q</text>\n";
  if (by_class.empty()) {
    return svg + Text(box.x + box.width / 2, box.y + box.height / 2, "no finite values");
  }
  std::vector<double> x_ticks = NiceTicks(x_low, x_high, 6);
  std::vector<double> y_ticks = NiceTicks(0, std::max(y_high, 0.0), 5);
  x_low = std::min(x_low, x_ticks.front());
  x_high = std::max(x_high, x_ticks.back());
  double y_low = std::min(0.0, y_ticks.front());
  y_high = std::max(y_high, y_ticks.back());
  double x_span = x_high > x_low ? x_high - x_low : 1;
  double y_span = y_high > y_low ? y_high - y_low : 1;
  auto px = [&](double x) { return box.x + (x - x_low) / x_span * box.width; };
  auto py = [&](double y) { return box.y + box.height - (y - y_low) / y_span * box.height; };
  for (double tick : x_ticks) {
    svg += Text(px(tick), box.y + box.height + 14, TickLabel(tick), "middle", 10);
  }
  for (double tick : y_ticks) svg += Text(box.x - 4, py(tick) + 3, TickLabel(tick), "end", 10);

  double legend_y = box.y + 4;
  std::size_t colour = 0;
  // Largest class first, so the smaller classes stay visible on top.
  for (const auto& [info_class, members] : by_class) {
    std::string_view fill = kPalette[colour++ % kPalette.size()];
    svg += "<g fill=\"" + std::string(fill) + "\" fill-opacity=\"0.55\">\n";
    for (const ReportRow* row : members) {
      svg += "<circle cx=\"" + Num(px(row->r_mean)) + "\" cy=\"" + Num(py(row->q)) +
             "\" r=\"1.6\"/>\n";
    }
    svg += "</g>\n";
    svg += "<rect x=\"" + Num(box.x + box.width - 130) + "\" y=\"" + Num(legend_y) +
           "\" width=\"10\" height=\"10\" fill=\"" + std::string(fill) + "\"/>\n";
    svg += Text(box.x + box.width - 114, legend_y + 9,
                "class " + std::to_string(info_class) + " (" + std::to_string(members.size()) + ")",
                "start", 11);
    legend_y += 15;
  }
  return svg;
}

}  // namespace

std::array<std::size_t, kHistogramBins> HistogramCounts(std::span<const double> values) {
  std::array<std::size_t, kHistogramBins> counts{};
  for (double value : values) {
    if (std::isnan(value)) continue;
    double scaled = std::floor(value * static_cast<double>(kHistogramBins));
    double bin = std::clamp(scaled, 0.0, static_cast<double>(kHistogramBins - 1));
    ++counts[static_cast<std::size_t>(bin)];
  }
  return counts;
}

std::vector<double> NiceTicks(double low, double high, int count) {
  if (!(high > low)) return {low};
  double raw = (high - low) / std::max(1, count);
  double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    step = factor * magnitude;
    if (step >= raw) break;
  }
  std::vector<double> ticks;
  double first = std::floor(low / step);
  double last = std::ceil(high / step);
  for (double k = first; k <= last; k += 1) ticks.push_back(k * step);
  return ticks;
}

std::string SvgFigure(const std::vector<ReportRow>& rows) {
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
      std::to_string(kWidth) + "\" height=\"" + std::to_string(kHeight) + "\" viewBox=\"0 0 " +
      std::to_string(kWidth) + " " + std::to_string(kHeight) + "\">\n" +
      "<title>KORVELAN results</title>\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
      "<g font-family=\"sans-serif\" fill=\"#222\">\n";
  svg += Text(kWidth / 2.0, 28, "KORVELAN results: " + std::to_string(rows.size()) + " genes",
              "middle", 18);
  constexpr std::array<std::string_view, kPValueCount> kTitles = {
      "right-sided P, R-mean",         "left-sided P, R-mean", "right-sided P, R-weighted mean",
      "left-sided P, R-weighted mean", "right-sided P, Q",     "left-sided P, Q",
  };
  std::vector<double> column(rows.size());
  for (std::size_t c = 0; c < kPValueCount; ++c) {
    for (std::size_t r = 0; r < rows.size(); ++r) column[r] = rows[r].p[c];
    // Statistic across (R-mean, R-weighted mean, Q), side down (right, left).
    const std::size_t statistic = c / 2;
    const std::size_t side = c % 2;
    double x = 70 + 300.0 * static_cast<double>(statistic);
    double y = 90 + 230.0 * static_cast<double>(side);
    svg += "<g>\n" + Histogram({x, y, 250, 150}, kTitles[c], column) + "</g>\n";
  }
  svg += "<g>\n" + Scatter({90, 580, 840, 300}, rows) + "</g>\n";
  svg += "</g>\n</svg>\n";
  return svg;
}

}  // namespace korvelan::tools
