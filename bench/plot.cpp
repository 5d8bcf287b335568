#include "plot.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "report.h"
#include "text.h"

namespace bonesplice::bench {
namespace {

constexpr double kWidth = 760;
constexpr double kHeight = 460;
constexpr double kLeft = 70;
constexpr double kRight = kWidth - 170;  // the legend sits to the right of the axes
constexpr double kTop = 40;
constexpr double kBottom = kHeight - 60;

struct Point {
  double entries;
  double ns;
};

struct Series {
  std::string name;
  std::string color;
  bool dashed;
  std::vector<Point> points;
};

// The smallest of 1, 2 or 5 times a power of ten that splits 0..top into at most 8 steps.
double TickStep(double top) {
  double step = std::pow(10.0, std::floor(std::log10(top / 8)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (top / (step * factor) <= 8) return step * factor;
  }
  return step * 10;
}

std::string CountLabel(double value) {
  if (value >= 1e6) return Fixed(value / 1e6, 0) + "M";
  if (value >= 1e3) return Fixed(value / 1e3, 0) + "k";
  return Fixed(value, 0);
}

std::vector<Series> SeriesOf(const std::vector<CaseResult>& results) {
  using Pick = const Figure& (*)(const CaseResult&);
  struct Source {
    const char* name;
    const char* color;
    bool dashed;
    Pick figure;
  };
  const Source sources[] = {
      {"streaming floor", "#666666", false,
       [](const CaseResult& r) -> const Figure& { return r.streamingFloor; }},
      {"plain", "#1f5fa8", false, [](const CaseResult& r) -> const Figure& { return r.now.plain; }},
      {"-o", "#c8372d", false, [](const CaseResult& r) -> const Figure& { return r.now.opt; }},
      {"plain, before", "#1f5fa8", true,
       [](const CaseResult& r) -> const Figure& { return r.before.plain; }},
      {"-o, before", "#c8372d", true,
       [](const CaseResult& r) -> const Figure& { return r.before.opt; }},
  };
  std::vector<Series> series;
  for (const Source& source : sources) {
    Series s{source.name, source.color, source.dashed, {}};
    for (const CaseResult& r : results) {
      uint64_t entries = uint64_t{r.plan.baseEntries} + r.plan.donorEntries;
      if (r.plan.kind == CaseKind::kFlood || entries < kPlotMinEntries) continue;
      const Figure& f = source.figure(r);
      if (!f.measured || f.timedOut) continue;
      s.points.push_back({static_cast<double>(entries), NsPerEntry(f.seconds, r.plan)});
    }
    std::sort(s.points.begin(), s.points.end(),
              [](const Point& a, const Point& b) { return a.entries < b.entries; });
    if (!s.points.empty()) series.push_back(std::move(s));
  }
  return series;
}

}  // namespace

bool WritePlot(const std::vector<CaseResult>& results, const std::string& path) {
  std::vector<Series> series = SeriesOf(results);
  if (series.empty()) return false;
  double minX = series[0].points[0].entries;
  double maxX = minX;
  double maxY = 0;
  for (const Series& s : series) {
    for (const Point& p : s.points) {
      minX = std::min(minX, p.entries);
      maxX = std::max(maxX, p.entries);
      maxY = std::max(maxY, p.ns);
    }
  }
  const double lowX = std::log10(minX / 1.4);
  const double highX = std::log10(maxX * 1.4);
  const double step = TickStep(maxY * 1.05);
  const double topY = std::ceil(maxY * 1.05 / step) * step;
  auto x = [&](double entries) {
    return kLeft + (std::log10(entries) - lowX) / (highX - lowX) * (kRight - kLeft);
  };
  auto y = [&](double ns) { return kBottom - ns / topY * (kBottom - kTop); };

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "<text x=\"" << kLeft << "\" y=\"22\" font-size=\"15\">Merge time per entry against "
      << "the entry count</text>\n";
  // Grid and labels of the count axis at 1, 2 and 5 times each power of ten in its range.
  for (double decade = std::floor(lowX); decade <= highX; ++decade) {
    for (double factor : {1.0, 2.0, 5.0}) {
      double value = std::pow(10.0, decade) * factor;
      if (std::log10(value) < lowX || std::log10(value) > highX) continue;
      svg << "<line x1=\"" << x(value) << "\" y1=\"" << kTop << "\" x2=\"" << x(value) << "\" y2=\""
          << kBottom << "\" stroke=\"" << (factor == 1.0 ? "#bbbbbb" : "#e4e4e4") << "\"/>\n";
      svg << "<text x=\"" << x(value) << "\" y=\"" << kBottom + 18 << "\" text-anchor=\"middle\">"
          << CountLabel(value) << "</text>\n";
    }
  }
  for (double value = 0; value <= topY + step / 2; value += step) {
    svg << "<line x1=\"" << kLeft << "\" y1=\"" << y(value) << "\" x2=\"" << kRight << "\" y2=\""
        << y(value) << "\" stroke=\"#e4e4e4\"/>\n";
    svg << "<text x=\"" << kLeft - 8 << "\" y=\"" << y(value) + 4 << "\" text-anchor=\"end\">"
        << Fixed(value, step < 1 ? 1 : 0) << "</text>\n";
  }
  svg << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kRight - kLeft
      << "\" height=\"" << kBottom - kTop << "\" fill=\"none\" stroke=\"#333333\"/>\n";
  svg << "<text x=\"" << (kLeft + kRight) / 2 << "\" y=\"" << kHeight - 18
      << "\" text-anchor=\"middle\">entries in base + donor (log scale)</text>\n";
  svg << "<text transform=\"translate(20 " << (kTop + kBottom) / 2
      << ") rotate(-90)\" text-anchor=\"middle\">ns per entry (wall time)</text>\n";

  double legendY = kTop + 10;
  for (const Series& s : series) {
    std::string dash = s.dashed ? " stroke-dasharray=\"6 4\"" : "";
    svg << "<polyline fill=\"none\" stroke=\"" << s.color << "\" stroke-width=\"2\"" << dash
        << " points=\"";
    for (const Point& p : s.points) svg << x(p.entries) << ',' << y(p.ns) << ' ';
    svg << "\"/>\n";
    for (const Point& p : s.points) {
      svg << "<circle cx=\"" << x(p.entries) << "\" cy=\"" << y(p.ns) << "\" r=\"3\" fill=\""
          << (s.dashed ? "white" : s.color) << "\" stroke=\"" << s.color << "\"/>\n";
    }
    svg << "<line x1=\"" << kRight + 14 << "\" y1=\"" << legendY << "\" x2=\"" << kRight + 44
        << "\" y2=\"" << legendY << "\" stroke=\"" << s.color << "\" stroke-width=\"2\"" << dash
        << "/>\n";
    svg << "<text x=\"" << kRight + 50 << "\" y=\"" << legendY + 4 << "\">" << s.name
        << "</text>\n";
    legendY += 20;
  }
  svg << "</svg>\n";

  std::ofstream out(path);
  out << svg.str();
  out.close();
  return static_cast<bool>(out);
}

}  // namespace bonesplice::bench
