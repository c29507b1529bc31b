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
// A dash pattern per line, so that lines of equal bitrate stay apart.
constexpr const char* kDashes[] = {"", "8 4", "2 3", "10 3 2 3", "5 5"};
constexpr size_t kDashCount = sizeof kDashes / sizeof kDashes[0];
constexpr const char* kErrorColour = "#d00000";
constexpr const char* kOutsideColour = "#555555";  // errors on PIDs of no program
constexpr double kMarkReach = 6;                   // errors this close (pixels) share a mark
constexpr size_t kLegendCharacters = 26;           // what fits beside the plot: program labels are cut to it
constexpr size_t kTitleCharacters = 90;

// The bitrate of one stretch of a line: a second of its PCR, or of input.
struct Step {
    double from, to;  // seconds
    double mbits;
};

struct Error {
    double seconds;
    uint64_t lost;
};

struct Series {
    std::vector<Step> steps;
    std::vector<Error> errors;
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

// At most `characters` characters of UTF-8 text, the last an ellipsis when cut.
std::string cut(const std::string& text, size_t characters) {
    size_t count = 0, end = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if ((uint8_t(text[at]) & 0xC0) == 0x80) continue;
        if (++count == characters) end = at;
    }
    return count <= characters ? text : text.substr(0, end) + "\u2026";
}

// Where a point in time lies: the program's PCR, or for a program without
// one, its input offset at the stream's average byte rate.
double secondsAt(const TS_CheckResult& r, const TS_CheckSample& s) {
    if (s.u8Timed) return secondsOf(s.u64Time);
    return r.u64Bytes ? double(s.u64Time) * secondsOf(r.u64Duration) / double(r.u64Bytes) : 0;
}

// Each point's bytes spread over the stretch since the one before, from 0 on.
Series seriesOf(const TS_CheckResult& r, const ChartPoints::Line& line) {
    Series series;
    double before = 0, bytes = 0;
    for (const TS_CheckSample& s : line.bytes) {
        double at = secondsAt(r, s);
        bytes += double(s.u64Bytes);
        if (at <= before) continue;  // nothing to divide by: its bytes go to the next stretch
        series.steps.push_back({before, at, bytes * 8 / (at - before) / 1e6});
        before = at;
        bytes = 0;
    }
    for (const TS_CheckSample& s : line.errors) series.errors.push_back({secondsAt(r, s), s.u64Lost});
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
    for (const Step& step : series.steps) {
        if (step.to >= seconds) return step.mbits;
    }
    return series.steps.empty() ? 0 : series.steps.back().mbits;
}

std::string plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One cross for the errors within reach of each other, labelled with the
// packets they lost; its tooltip tells how many errors it stands for.
std::string errorMarks(const Series& series, const Scale& scale, const char* colour, bool onAxis) {
    std::vector<Error> errors = series.errors;
    std::sort(errors.begin(), errors.end(), [](const Error& a, const Error& b) { return a.seconds < b.seconds; });
    std::string svg;
    for (size_t first = 0; first < errors.size();) {
        size_t last = first;
        uint64_t lost = 0;
        double x = scale.x(errors[first].seconds);
        for (; last < errors.size() && scale.x(errors[last].seconds) - x <= kMarkReach; ++last) lost += errors[last].lost;
        double y = onAxis ? scale.y(0) : scale.y(mbitsAt(series, errors[first].seconds));
        svg += "<g class=\"cc-error\"><title>" + plural(last - first, "continuity error", "continuity errors") + ", " +
               plural(lost, "packet lost", "packets lost") + "</title>";
        svg += format("<path d=\"M%.1f %.1fl8 8m0 -8l-8 8\" stroke-width=\"2\" ", x - 4, y - 4) + "stroke=\"" + colour +
               "\"/>" + format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" ", x + 6, y - 6) + "fill=\"" + colour +
               "\">" + std::to_string(lost) + "</text></g>\n";
        first = last;
    }
    return svg;
}

std::string line(const Series& series, const Scale& scale, size_t index) {
    std::string svg = std::string("<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"") +
                      kColours[index % kColourCount] + "\"";
    if (*kDashes[index % kDashCount]) svg += std::string(" stroke-dasharray=\"") + kDashes[index % kDashCount] + "\"";
    svg += " points=\"";
    for (const Step& step : series.steps) {
        svg += format("%.1f,%.1f %.1f,%.1f ", scale.x(step.from), scale.y(step.mbits), scale.x(step.to),
                      scale.y(step.mbits));
    }
    return svg + "\"/>\n" + errorMarks(series, scale, kErrorColour, false);
}

std::string legendEntry(size_t row, const char* colour, const char* dashes, const std::string& text, bool cross) {
    double y = kTop + 10 + double(row) * 20, x = kWidth - kRight + 20;
    std::string mark = cross ? format("<path d=\"M%g %gl8 8m0 -8l-8 8\" stroke-width=\"2\" ", x + 6, y - 4)
                             : format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke-width=\"3\" ", x, y, x + 20, y);
    if (*dashes) mark += std::string("stroke-dasharray=\"") + dashes + "\" ";
    return mark + "stroke=\"" + colour + "\"/>" + format("<text x=\"%g\" y=\"%g\">", x + 28, y + 4) +
           escaped(text) + "</text>\n";
}

}  // namespace

void gatherPoint(const TS_CheckSample* sample, void* user) {
    ChartPoints& points = *static_cast<ChartPoints*>(user);
    if (sample->u16Program == TS_CHECK_NO_PROGRAM) {
        points.outside.errors.push_back(*sample);
        return;
    }
    if (points.lines.size() <= sample->u16Program) points.lines.resize(sample->u16Program + 1u);
    ChartPoints::Line& line = points.lines[sample->u16Program];
    (sample->u8Kind == TS_SAMPLE_CC_ERROR ? line.errors : line.bytes).push_back(*sample);
}

std::string chartSVG(const TS_CheckResult& r, const ChartPoints& points, const std::string& name) {
    std::vector<Series> series;
    Series outside = seriesOf(r, points.outside);
    Scale scale{1, 1};
    for (const ChartPoints::Line& l : points.lines) {
        series.push_back(seriesOf(r, l));
        for (const Step& step : series.back().steps) {
            scale.seconds = std::max(scale.seconds, step.to);
            scale.mbits = std::max(scale.mbits, step.mbits * 1.1);
        }
    }
    for (const Error& e : outside.errors) scale.seconds = std::max(scale.seconds, e.seconds);
    // Axes that end on a tick.
    scale.seconds = std::ceil(scale.seconds / tickStep(scale.seconds)) * tickStep(scale.seconds);
    scale.mbits = std::ceil(scale.mbits / tickStep(scale.mbits)) * tickStep(scale.mbits);
    std::string svg = format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" viewBox=\"0 0 %g %g\" ",
                             kWidth, kHeight, kWidth, kHeight) +
                      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += format("<text x=\"%g\" y=\"24\" font-size=\"15\">", kLeft) +
           escaped(cut(xmlAllowed("Bitrate per program of " + name), kTitleCharacters)) + "</text>\n";
    svg += axes(scale);
    size_t row = 0;
    for (size_t i = 0; i < r.u16ProgramCount; ++i) {
        const TS_CheckProgram& program = r.ltProgram[i];
        std::string serviceName = serviceNameOf(r, program);
        std::string label = std::to_string(program.u16ProgramNumber) + (serviceName.empty() ? "" : " " + serviceName);
        if (i < series.size() && !series[i].steps.empty()) {
            svg += line(series[i], scale, i);
        } else {
            label += " (no data)";
        }
        svg += legendEntry(row++, kColours[i % kColourCount], kDashes[i % kDashCount],
                           cut(xmlAllowed(label), kLegendCharacters), false);
    }
    svg += legendEntry(row++, kErrorColour, "", "cc error (packets lost)", true);
    if (!outside.errors.empty()) {
        svg += errorMarks(outside, scale, kOutsideColour, true);
        svg += legendEntry(row, kOutsideColour, "", "on a PID of no program", true);
    }
    return svg + "</svg>\n";
}

}  // namespace rivulet::tool
