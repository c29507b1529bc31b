#include "app/ts_tool/check_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/common/xml_text.h"
#include "app/ts_tool/check_view.h"

namespace rivulet::tool {
namespace {

constexpr double kWidth = 960, kHeight = 440;
constexpr double kLeft = 70, kRight = 250, kTop = 40, kBottom = 50;  // margins around the plot
constexpr double kPlotWidth = kWidth - kLeft - kRight, kPlotHeight = kHeight - kTop - kBottom;
constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b",
                                    "#e377c2", "#7f7f7f", "#bcbd22", "#17becf", "#d62728"};
constexpr size_t kColourCount = sizeof kColours / sizeof kColours[0];
constexpr const char* kErrorColour = "#d00000";

struct Point {
    double seconds;
    double mbits;  // Mbit/s over the step that ends here
};

struct Series {
    std::vector<Point> points;
    std::vector<double> errors;  // seconds
};

std::string format(const char* pattern, double a, double b = 0, double c = 0, double d = 0) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b, c, d);
    return text;
}

// Text as XML carries it: its markup escaped, what XML does not allow dropped.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : xmlAllowed(text)) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

// Where a point in time lies: the program's PCR, or for a program without
// one, its input offset at the stream's average byte rate.
double secondsAt(const TS_CheckResult& r, const TS_CheckSample& s) {
    if (s.u8Timed) return secondsOf(s.u64Time);
    return r.u64Bytes ? double(s.u64Time) * secondsOf(r.u64Duration) / double(r.u64Bytes) : 0;
}

Series seriesOf(const TS_CheckResult& r, const ChartPoints::Line& line) {
    Series series;
    double before = 0;
    for (const TS_CheckSample& s : line.bytes) {
        double at = secondsAt(r, s);
        if (at <= before) continue;  // nothing to divide by: its bytes are too few to show
        series.points.push_back({at, double(s.u64Bytes) * 8 / (at - before) / 1e6});
        before = at;
    }
    for (const TS_CheckSample& s : line.errors) series.errors.push_back(secondsAt(r, s));
    return series;
}

// A step of 1, 2 or 5 times a power of ten that cuts `range` into 4 to 10.
double tickStep(double range) {
    double step = std::pow(10, std::floor(std::log10(range / 5)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (range / (step * factor) <= 10) return step * factor;
    }
    return step * 10;
}

struct Scale {
    double seconds, mbits;
    double x(double s) const { return kLeft + s / seconds * kPlotWidth; }
    double y(double m) const { return kTop + kPlotHeight - m / mbits * kPlotHeight; }
};

std::string axes(const Scale& scale) {
    std::string svg = format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"#444\"/>\n",
                             kLeft, kTop, kPlotWidth, kPlotHeight);
    double xs = tickStep(scale.seconds), ys = tickStep(scale.mbits);
    for (double s = 0; s <= scale.seconds + 1e-9; s += xs) {
        svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#ddd\"/>", scale.x(s), kTop, scale.x(s),
                      kTop + kPlotHeight);
        svg += format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">%g</text>\n", scale.x(s),
                      kTop + kPlotHeight + 16, s);
    }
    for (double m = 0; m <= scale.mbits + 1e-9; m += ys) {
        svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#ddd\"/>", kLeft, scale.y(m),
                      kLeft + kPlotWidth, scale.y(m));
        svg += format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">%g</text>\n", kLeft - 6, scale.y(m) + 4, m);
    }
    svg += format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">time (s)</text>\n", kLeft + kPlotWidth / 2,
                  kHeight - 12);
    svg += format("<text transform=\"translate(%g,%g) rotate(-90)\" text-anchor=\"middle\">bitrate (Mbit/s)</text>\n",
                  18, kTop + kPlotHeight / 2);
    return svg;
}

// The bitrate of the step a moment falls in, to put its error mark on the line.
double mbitsAt(const Series& series, double seconds) {
    for (const Point& p : series.points) {
        if (p.seconds >= seconds) return p.mbits;
    }
    return series.points.empty() ? 0 : series.points.back().mbits;
}

std::string line(const Series& series, const Scale& scale, const char* colour) {
    std::string svg = std::string("<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"") + colour + "\" points=\"";
    for (const Point& p : series.points) svg += format("%.1f,%.1f ", scale.x(p.seconds), scale.y(p.mbits));
    svg += "\"/>\n";
    for (double at : series.errors) {
        double x = scale.x(at), y = scale.y(mbitsAt(series, at));
        svg += format("<path class=\"cc-error\" d=\"M%.1f %.1fl8 8m0 -8l-8 8\" stroke-width=\"2\" ", x - 4, y - 4);
        svg += std::string("stroke=\"") + kErrorColour + "\"/>\n";
    }
    return svg;
}

std::string legendEntry(size_t row, const char* colour, const std::string& text, bool cross) {
    double y = kTop + 10 + double(row) * 20, x = kWidth - kRight + 20;
    std::string mark = cross ? format("<path d=\"M%g %gl8 8m0 -8l-8 8\" stroke-width=\"2\" ", x + 6, y - 4)
                             : format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke-width=\"3\" ", x, y, x + 20, y);
    return mark + "stroke=\"" + colour + "\"/>" + format("<text x=\"%g\" y=\"%g\">", x + 28, y + 4) + escaped(text) +
           "</text>\n";
}

}  // namespace

void gatherPoint(const TS_CheckSample* sample, void* user) {
    ChartPoints& points = *static_cast<ChartPoints*>(user);
    if (points.lines.size() <= sample->u16Program) points.lines.resize(sample->u16Program + 1u);
    ChartPoints::Line& line = points.lines[sample->u16Program];
    (sample->u8Kind == TS_SAMPLE_CC_ERROR ? line.errors : line.bytes).push_back(*sample);
}

std::string chartSVG(const TS_CheckResult& r, const ChartPoints& points) {
    std::vector<Series> series;
    Scale scale{1, 1};
    for (const ChartPoints::Line& l : points.lines) {
        series.push_back(seriesOf(r, l));
        for (const Point& p : series.back().points) {
            scale.seconds = std::max(scale.seconds, p.seconds);
            scale.mbits = std::max(scale.mbits, p.mbits * 1.1);
        }
    }
    // Axes that end on a tick.
    scale.seconds = std::ceil(scale.seconds / tickStep(scale.seconds)) * tickStep(scale.seconds);
    scale.mbits = std::ceil(scale.mbits / tickStep(scale.mbits)) * tickStep(scale.mbits);
    std::string svg = format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" viewBox=\"0 0 %g %g\" ",
                             kWidth, kHeight, kWidth, kHeight) +
                      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += format("<text x=\"%g\" y=\"24\" font-size=\"15\">Bitrate per program</text>\n", kLeft);
    svg += axes(scale);
    size_t row = 0;
    for (size_t i = 0; i < r.u16ProgramCount; ++i) {
        const char* colour = kColours[i % kColourCount];
        const TS_CheckProgram& program = r.ltProgram[i];
        std::string name = serviceNameOf(r, program);
        std::string label = std::to_string(program.u16ProgramNumber) + (name.empty() ? "" : " " + name);
        if (i < series.size() && !series[i].points.empty()) {
            svg += line(series[i], scale, colour);
        } else {
            label += " (no data)";
        }
        svg += legendEntry(row++, colour, label, false);
    }
    svg += legendEntry(row, kErrorColour, "continuity error", true);
    return svg + "</svg>\n";
}

}  // namespace rivulet::tool
