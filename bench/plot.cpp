#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "bench.h"

namespace bonesplice::bench {
namespace {

constexpr double kWidth = 760, kHeight = 460;
constexpr double kLeft = 70, kRight = kWidth - 170, kTop = 40, kBottom = kHeight - 60;
// Smaller cases are left out: their time is mostly the start of a process.
constexpr double kMinEntries = 50000;

struct Series {
  const char* name;
  const char* color;
  bool dashed;
  std::vector<std::pair<double, double>> points;  // entries of base + donor, ns per entry
};

}  // namespace

bool WritePlot(const std::vector<CaseResult>& results, const std::string& path) {
  Series series[] = {{"streaming floor", "#666666", false, {}},
                     {"plain", "#1f5fa8", false, {}},
                     {"-o", "#c8372d", false, {}},
                     {"plain, before", "#1f5fa8", true, {}},
                     {"-o, before", "#c8372d", true, {}}};
  double minX = 0, maxX = 0, maxY = 0;
  // The results come smallest first, so each series' points come in order.
  for (const CaseResult& r : results) {
    const double entries = 2.0 * r.plan.entries;
    if (r.plan.flood || r.plan.firstUse || entries < kMinEntries) continue;
    const Figure* figures[] = {
        &r.floor, &r.merges[kNow][kPlain][kAllThreads], &r.merges[kNow][kOpt][kAllThreads],
        &r.merges[kBefore][kPlain][kAllThreads], &r.merges[kBefore][kOpt][kAllThreads]};
    for (size_t i = 0; i < std::size(series); ++i) {
      if (!Measured(*figures[i])) continue;
      const double ns = NsPerEntry(Median(figures[i]->seconds), r.plan);
      series[i].points.emplace_back(entries, ns);
      minX = minX == 0 ? entries : std::min(minX, entries);
      maxX = std::max(maxX, entries);
      maxY = std::max(maxY, ns * 1.05);
    }
  }
  if (maxY == 0) return false;
  const double lowX = std::log10(minX / 1.4), highX = std::log10(maxX * 1.4);
  // The vertical step: 1, 2 or 5 times a power of ten, for at most 8 steps.
  double step = std::pow(10.0, std::floor(std::log10(maxY / 8)));
  for (int i = 0; maxY / step > 8; ++i) step *= i % 3 == 1 ? 2.5 : 2;
  const double topY = std::ceil(maxY / step) * step;
  auto x = [&](double entries) {
    return kLeft + (std::log10(entries) - lowX) / (highX - lowX) * (kRight - kLeft);
  };
  auto y = [&](double ns) { return kBottom - ns / topY * (kBottom - kTop); };

  std::FILE* svg = std::fopen(path.c_str(), "w");
  if (svg == nullptr) return false;
  std::fprintf(
      svg,
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%%\" height=\"100%%\" "
      "fill=\"white\"/>\n<text x=\"%g\" y=\"22\" font-size=\"15\">Merge time per entry against "
      "the entry count (random order, all threads)</text>\n",
      kWidth, kHeight, kLeft);
  for (double decade = std::floor(lowX); decade <= highX; ++decade) {
    for (double factor : {1.0, 2.0, 5.0}) {
      const double value = std::pow(10.0, decade) * factor;
      if (std::log10(value) < lowX || std::log10(value) > highX) continue;
      std::fprintf(svg,
                   "<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#%s\"/>\n<text "
                   "x=\"%.1f\" y=\"%g\" text-anchor=\"middle\">%g%s</text>\n",
                   x(value), kTop, x(value), kBottom, factor == 1 ? "bbb" : "e4e4e4", x(value),
                   kBottom + 18, value >= 1e6 ? value / 1e6 : value / 1e3,
                   value >= 1e6 ? "M" : "k");
    }
  }
  for (double value = 0; value <= topY + step / 2; value += step) {
    std::fprintf(svg,
                 "<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n<text "
                 "x=\"%g\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n",
                 kLeft, y(value), kRight, y(value), kLeft - 8, y(value) + 4, value);
  }
  std::fprintf(
      svg,
      "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"#333\"/>\n"
      "<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">entries in base + donor (log scale)</text>\n"
      "<text transform=\"translate(20 %g) rotate(-90)\" text-anchor=\"middle\">ns per entry "
      "(wall time)</text>\n",
      kLeft, kTop, kRight - kLeft, kBottom - kTop, (kLeft + kRight) / 2, kHeight - 18,
      (kTop + kBottom) / 2);
  double legendY = kTop + 10;
  for (const Series& s : series) {
    if (s.points.empty()) continue;
    const char* dash = s.dashed ? " stroke-dasharray=\"6 4\"" : "";
    std::fprintf(svg, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\"%s points=\"",
                 s.color, dash);
    for (const auto& [entries, ns] : s.points) std::fprintf(svg, "%.1f,%.1f ", x(entries), y(ns));
    std::fputs("\"/>\n", svg);
    for (const auto& [entries, ns] : s.points) {
      std::fprintf(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\" stroke=\"%s\"/>\n",
                   x(entries), y(ns), s.dashed ? "white" : s.color, s.color);
    }
    std::fprintf(
        svg,
        "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"%s\" stroke-width=\"2\"%s/>\n"
        "<text x=\"%g\" y=\"%g\">%s</text>\n",
        kRight + 14, legendY, kRight + 44, legendY, s.color, dash, kRight + 50, legendY + 4,
        s.name);
    legendY += 20;
  }
  std::fputs("</svg>\n", svg);
  bool written = std::ferror(svg) == 0;
  return std::fclose(svg) == 0 && written;
}

}  // namespace bonesplice::bench
