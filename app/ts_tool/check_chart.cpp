#include "app/ts_tool/check_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/common/xml_text.h"
#include "app/ts_tool/check_view.h"

namespace rivulet::tool {
namespace {

constexpr double kWidth = 990, kMinHeight = 440;
constexpr double kLeft = 70, kRight = 280, kTop = 40, kBottom = 50;  // margins around the plot
constexpr double kPlotWidth = kWidth - kLeft - kRight, kPlotHeight = kMinHeight - kTop - kBottom;
constexpr double kLegendX = kWidth - kRight + 50;  // leaves room for the labels at the lines' ends
constexpr double kRowHeight = 20;
constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b",
                                    "#e377c2", "#7f7f7f", "#bcbd22", "#17becf", "#d62728"};
constexpr size_t kColourCount = sizeof kColours / sizeof kColours[0];
// Each program its own pair of colour and dash pattern, up to 50 programs.
constexpr const char* kDashes[] = {"", "8 4", "2 3", "10 3 2 3", "5 5"};
constexpr size_t kDashCount = sizeof kDashes / sizeof kDashes[0];
constexpr const char* kErrorColour = "#d00000";
constexpr const char* kOutsideColour = "#555555";  // errors on PIDs of no program
constexpr const char* kNoteColour = "#666666";
constexpr double kCharWidth = 6.5;    // of a 10-pixel character, a little wide, so that labels never touch
constexpr double kLabelHeight = 11;   // of a 10-pixel line of text
constexpr double kCrossReach = 5;     // from a cross's centre to its edge
constexpr size_t kLegendCharacters = 26;  // what fits beside the plot: program labels are cut to it
constexpr size_t kTitleCharacters = 90;

// What the axes read: time and bitrate from the PCRs, or without any PCR
// the input and each program's share of it.
struct Units {
    const char *title, *x, *y;
};
constexpr Units kUntimedUnits = {"Share of the input per program of ", "input (MB)", "share of the input (%)"};
constexpr Units kTimedUnits = {"Bitrate per program of ", "time (s)", "bitrate (Mbit/s)"};

struct Frame {
    bool timed;            // the input has a duration
    double secondsPerByte;  // its duration over its bytes
};

// Where a point lies: its program's PCR duration; without one, its input
// offset as a moment of the input's duration, or in megabytes of input.
double positionOf(const Frame& frame, const TS_CheckSample& s) {
    if (s.u8Timed) return frame.timed ? secondsOf(s.u64Time) : 0;
    return frame.timed ? double(s.u64Time) * frame.secondsPerByte : double(s.u64Time) / 1e6;
}

double rateOf(const Frame& frame, double bytes, double span) {
    return frame.timed ? bytes * 8 / span / 1e6 : bytes / (span * 1e6) * 100;
}

// The rate of one stretch of a line: its bytes over its own span.
struct Step {
    double from, to;
    double rate;
};

// Each point's bytes over the stretch since the one before, from 0 on. A
// line with a PCR is drawn by its PCR alone: its first timed point opens
// it, and the bytes before, which have no time of their own, are left out.
std::vector<Step> stepsOf(const Frame& frame, const std::vector<TS_CheckSample>& samples) {
    std::vector<Step> steps;
    double before = 0, bytes = 0;
    bool opened = false;
    bool timed = std::any_of(samples.begin(), samples.end(), [](const TS_CheckSample& s) { return s.u8Timed; });
    for (const TS_CheckSample& s : samples) {
        if (bool(s.u8Timed) != (timed && frame.timed)) continue;
        double at = positionOf(frame, s);
        bytes += double(s.u64Bytes);
        if (s.u8Timed && !opened) {
            opened = true;
            before = at;
            bytes = 0;
            continue;
        }
        if (at <= before) continue;  // nothing to divide by: its bytes go to the next stretch
        steps.push_back({before, at, rateOf(frame, bytes, at - before)});
        before = at;
        bytes = 0;
    }
    return steps;
}

// The rate of the step a moment falls in, to put an error mark on the line.
double rateAt(const std::vector<Step>& steps, double at) {
    for (const Step& step : steps) {
        if (step.to >= at) return step.rate;
    }
    return steps.empty() ? 0 : steps.back().rate;
}

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

std::string fileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
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
    double positions, rates;
    double x(double at) const { return kLeft + at / positions * kPlotWidth; }
    double y(double rate) const { return kTop + kPlotHeight - rate / rates * kPlotHeight; }
};

// An axis that ends on a tick.
double roundedUp(double range) { return std::ceil(range / tickStep(range)) * tickStep(range); }

std::string axes(const Scale& scale, const Units& units) {
    std::string svg = format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"#444\"/>\n",
                             kLeft, kTop, kPlotWidth, kPlotHeight);
    double xs = tickStep(scale.positions), ys = tickStep(scale.rates);
    for (double s = 0; s <= scale.positions + 1e-9; s += xs) {
        svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#ddd\"/>", scale.x(s), kTop, scale.x(s),
                      kTop + kPlotHeight);
        svg += format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">%g</text>\n", scale.x(s),
                      kTop + kPlotHeight + 16, s);
    }
    for (double m = 0; m <= scale.rates + 1e-9; m += ys) {
        svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#ddd\"/>", kLeft, scale.y(m),
                      kLeft + kPlotWidth, scale.y(m));
        svg += format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">%g</text>\n", kLeft - 6, scale.y(m) + 4, m);
    }
    svg += format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">", kLeft + kPlotWidth / 2, kMinHeight - 12) +
           units.x + "</text>\n";
    svg += format("<text transform=\"translate(%g,%g) rotate(-90)\" text-anchor=\"middle\">", 18,
                  kTop + kPlotHeight / 2) + units.y + "</text>\n";
    return svg;
}

// --- Labels that keep apart ---------------------------------------------------

struct Box {
    double left, top, right, bottom;
    bool meets(const Box& o) const { return left < o.right && o.left < right && top < o.bottom && o.top < bottom; }
};

// The boxes of what has been drawn: a label goes where it meets none of them.
using Taken = std::vector<Box>;

// Labels keep within the plot's height, off the axes' figures.
bool isFree(const Taken& taken, const Box& box) {
    if (box.top < kTop || box.bottom > kTop + kPlotHeight) return false;
    return std::none_of(taken.begin(), taken.end(), [&](const Box& t) { return t.meets(box); });
}

struct Placed {
    double x, y;  // of the text's baseline start
};

// The first free place for a label `width` wide among places around
// (x, y): right of it and up, right and down, then further out, then one
// label further right; the first when none is free. The label's box is taken.
Placed placeLabel(Taken& taken, double x, double y, double width) {
    constexpr double kRises[] = {-6, 14, -18, 26, -30, 38, -42, 50, -54, 62, -66, 74};
    Placed chosen{x, y + kRises[0]};
    bool found = false;
    for (double shift = 0; shift <= width + 4 && !found; shift += width + 4) {
        for (double rise : kRises) {
            Box box{x + shift, y + rise - kLabelHeight + 2, x + shift + width, y + rise + 2};
            if (!isFree(taken, box)) continue;
            chosen = {x + shift, y + rise};
            found = true;
            break;
        }
    }
    taken.push_back({chosen.x, chosen.y - kLabelHeight + 2, chosen.x + width, chosen.y + 2});
    return chosen;
}

// --- Error marks --------------------------------------------------------------

struct Mark {
    double x, y;
    uint64_t errors, lost;
};

std::string markText(const Mark& m) { return std::to_string(m.errors) + " (" + std::to_string(m.lost) + ")"; }

// A mark takes in the next error when their crosses and labels would overlap.
bool overlaps(const Mark& mark, double x, double y) {
    double reach = 2 * kCrossReach + 6 + double(markText(mark).size()) * kCharWidth;
    return x - mark.x < reach && std::fabs(y - mark.y) < kLabelHeight + kCrossReach;
}

// The marks of one line's errors: one cross for those that would overlap,
// counting them all.
std::vector<Mark> marksOf(std::vector<TS_CheckSample> errors, const Frame& frame, const Scale& scale,
                          const std::vector<Step>* steps) {
    std::vector<Mark> marks;
    std::sort(errors.begin(), errors.end(), [&](const TS_CheckSample& a, const TS_CheckSample& b) {
        return positionOf(frame, a) < positionOf(frame, b);
    });
    for (const TS_CheckSample& e : errors) {
        double at = positionOf(frame, e);
        double x = scale.x(at), y = scale.y(steps ? rateAt(*steps, at) : 0);
        if (marks.empty() || !overlaps(marks.back(), x, y)) marks.push_back({x, y, 0, 0});
        ++marks.back().errors;
        marks.back().lost += e.u64Lost;
    }
    return marks;
}

// The crosses, which no label may cover.
Taken crossesOf(const std::vector<std::vector<Mark>>& lines) {
    Taken taken;
    for (const std::vector<Mark>& marks : lines) {
        for (const Mark& m : marks) taken.push_back({m.x - kCrossReach, m.y - kCrossReach, m.x + kCrossReach, m.y + kCrossReach});
    }
    return taken;
}

std::string plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Each mark a cross with its errors and lost packets beside it, and the
// program it counts for, as the JSON names it.
std::string drawMarks(const std::vector<Mark>& marks, const std::string& program, const char* colour, Taken& taken) {
    std::string svg;
    for (const Mark& m : marks) {
        std::string text = markText(m);
        Placed at = placeLabel(taken, m.x + kCrossReach + 1, m.y, double(text.size()) * kCharWidth);
        svg += "<g class=\"cc-error\" data-program=\"" + program + "\" data-errors=\"" + std::to_string(m.errors) +
               "\" data-lost=\"" + std::to_string(m.lost) + "\"><title>" +
               plural(m.errors, "continuity error", "continuity errors") + ", " +
               plural(m.lost, "packet lost", "packets lost") + "</title>";
        svg += format("<path d=\"M%.1f %.1fl8 8m0 -8l-8 8\" stroke-width=\"2\" ", m.x - 4, m.y - 4) + "stroke=\"" +
               colour + "\"/>" + format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" ", at.x, at.y) + "fill=\"" +
               colour + "\">" + text + "</text></g>\n";
    }
    return svg;
}

// --- Lines and legend ---------------------------------------------------------

const char* colourOf(size_t index) { return kColours[index % kColourCount]; }
// Neighbours differ in dashes too, and programs of one colour always do.
const char* dashesOf(size_t index) { return kDashes[(index % kColourCount + index / kColourCount) % kDashCount]; }

// The line, broken where its stretches do not meet, and the program's
// number at its end, so that lines of equal rate still tell which is which.
std::string drawLine(const std::vector<Step>& steps, const Scale& scale, size_t index, uint16_t number,
                     Taken& taken) {
    std::string svg = std::string("<path fill=\"none\" stroke-width=\"1.5\" stroke=\"") + colourOf(index) + "\"";
    if (*dashesOf(index)) svg += std::string(" stroke-dasharray=\"") + dashesOf(index) + "\"";
    svg += " d=\"";
    for (size_t i = 0; i < steps.size(); ++i) {
        bool joined = i > 0 && steps[i - 1].to == steps[i].from;
        svg += format(joined ? "L%.1f %.1fH%.1f" : "M%.1f %.1fH%.1f", scale.x(steps[i].from), scale.y(steps[i].rate),
                      scale.x(steps[i].to));
    }
    std::string label = std::to_string(number);
    Placed at = placeLabel(taken, scale.x(steps.back().to) + 3, scale.y(steps.back().rate) + 10,
                           double(label.size()) * kCharWidth);
    return svg + "\"/>\n" + format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" ", at.x, at.y) + "fill=\"" +
           colourOf(index) + "\">" + label + "</text>\n";
}

struct LegendEntry {
    const char* colour;
    const char* dashes;
    enum { kLine, kCross, kNone } mark;
    std::string text;
    bool note;  // said of the entry above it, smaller
};

std::string drawLegend(const std::vector<LegendEntry>& entries) {
    std::string svg;
    double y = kTop + 10, x = kLegendX;
    for (const LegendEntry& e : entries) {
        std::string mark;
        if (e.mark == LegendEntry::kCross) mark = format("<path d=\"M%g %gl8 8m0 -8l-8 8\" stroke-width=\"2\" ", x + 6, y - 4);
        if (e.mark == LegendEntry::kLine) mark = format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke-width=\"3\" ", x, y, x + 20, y);
        if (*e.dashes) mark += std::string("stroke-dasharray=\"") + e.dashes + "\" ";
        if (!mark.empty()) svg += mark + "stroke=\"" + e.colour + "\"/>";
        svg += e.note ? format("<text x=\"%g\" y=\"%g\" font-size=\"10\" fill=\"", x + 28, y - 4) + kNoteColour + "\">"
                      : format("<text x=\"%g\" y=\"%g\">", x + 28, y + 4);
        svg += escaped(e.text) + "</text>\n";
        y += e.note ? kRowHeight * 0.6 : kRowHeight;
    }
    return svg;
}

double legendHeight(const std::vector<LegendEntry>& entries) {
    double height = 0;
    for (const LegendEntry& e : entries) height += e.note ? kRowHeight * 0.6 : kRowHeight;
    return height;
}

// --- The chart ----------------------------------------------------------------

// The programs whose PID lists hold each PID: an error counts for each, as
// the figures of the check sum them.
std::vector<std::vector<uint16_t>> programsOfPIDs(const TS_CheckResult& r) {
    std::vector<std::vector<uint16_t>> of(TS_PID_COUNT);
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        const TS_CheckProgram& p = r.ltProgram[i];
        for (uint16_t k = 0; k < p.u16PIDCount; ++k) of[p.lu16PID[k]].push_back(i);
    }
    return of;
}

struct Lines {
    std::vector<std::vector<Step>> steps;               // by program index
    std::vector<std::vector<TS_CheckSample>> errors;    // by program index, then those of no program
    uint64_t errorCount = 0;
};

Lines linesOf(const TS_CheckResult& r, const ChartPoints& points, const Frame& frame) {
    Lines lines;
    lines.errors.resize(r.u16ProgramCount + 1u);
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        lines.steps.push_back(i < points.bytes.size() ? stepsOf(frame, points.bytes[i]) : std::vector<Step>{});
    }
    std::vector<std::vector<uint16_t>> programsOf = programsOfPIDs(r);
    for (const TS_CheckSample& e : points.errors) {
        const std::vector<uint16_t>& programs = programsOf[e.u16PID % TS_PID_COUNT];
        for (uint16_t i : programs) lines.errors[i].push_back(e);
        if (programs.empty()) lines.errors.back().push_back(e);
        lines.errorCount += 1;
    }
    return lines;
}

Scale scaleOf(const Lines& lines, const Frame& frame) {
    constexpr double kLeast = 1e-3;  // an axis of some length, however short the input
    Scale scale{kLeast, 1};
    for (const std::vector<Step>& steps : lines.steps) {
        for (const Step& step : steps) {
            scale.positions = std::max(scale.positions, step.to);
            scale.rates = std::max(scale.rates, step.rate * 1.1);
        }
    }
    for (const std::vector<TS_CheckSample>& errors : lines.errors) {
        for (const TS_CheckSample& e : errors) scale.positions = std::max(scale.positions, positionOf(frame, e));
    }
    return {roundedUp(scale.positions), roundedUp(scale.rates)};
}

// Why a program has no line, or how it is drawn without a PCR.
std::string programLabel(const TS_CheckResult& r, const TS_CheckProgram& program, bool drawn) {
    std::string serviceName = serviceNameOf(r, program);
    std::string label = xmlAllowed(std::to_string(program.u16ProgramNumber) + (serviceName.empty() ? "" : " " + serviceName));
    if (drawn) return cut(label, kLegendCharacters);
    std::string why = program.u64Packets ? " (too short)" : " (no packets)";
    return cut(label, kLegendCharacters - why.size()) + why;
}

std::vector<LegendEntry> legendOf(const TS_CheckResult& r, const Lines& lines) {
    std::vector<LegendEntry> entries;
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        const TS_CheckProgram& program = r.ltProgram[i];
        bool drawn = !lines.steps[i].empty();
        entries.push_back({colourOf(i), dashesOf(i), LegendEntry::kLine, programLabel(r, program, drawn), false});
        if (drawn && !hasPCR(r, program)) entries.push_back({"", "", LegendEntry::kNone, "no PCR: drawn over the file", true});
    }
    uint64_t tei = 0;
    for (const TS_CheckPID& pid : r.ltPID) tei += pid.u64TEI;
    if (lines.errorCount == 0) {
        entries.push_back({"", "", LegendEntry::kNone, tei ? "no continuity errors" : "no errors", false});
    } else {
        entries.push_back({kErrorColour, "", LegendEntry::kCross, "cc errors (packets lost)", false});
    }
    if (!lines.errors.back().empty()) {
        entries.push_back({kOutsideColour, "", LegendEntry::kCross, "on a PID of no program", false});
    }
    return entries;
}

std::string header(double height, const Units& units, const std::string& name) {
    return format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" viewBox=\"0 0 %g %g\" ", kWidth,
                  height, kWidth, height) +
           "font-family=\"sans-serif\" font-size=\"12\">\n" +
           format("<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n<text x=\"%g\" y=\"24\" font-size=\"15\">",
                  kLeft) +
           escaped(cut(xmlAllowed(units.title + fileNameOf(name)), kTitleCharacters)) + "</text>\n";
}

}  // namespace

void gatherPoint(const TS_CheckSample* sample, void* user) {
    ChartPoints& points = *static_cast<ChartPoints*>(user);
    if (sample->u8Kind == TS_SAMPLE_CC_ERROR) {
        points.errors.push_back(*sample);
        return;
    }
    if (points.bytes.size() <= sample->u16Program) points.bytes.resize(sample->u16Program + 1u);
    points.bytes[sample->u16Program].push_back(*sample);
}

std::string chartSVG(const TS_CheckResult& r, const ChartPoints& points, const std::string& name) {
    Frame frame{r.u64Duration > 0, r.u64Bytes ? secondsOf(r.u64Duration) / double(r.u64Bytes) : 0};
    const Units& units = frame.timed ? kTimedUnits : kUntimedUnits;
    Lines lines = linesOf(r, points, frame);
    Scale scale = scaleOf(lines, frame);
    std::vector<LegendEntry> legend = legendOf(r, lines);
    std::string svg = header(std::max(kMinHeight, kTop + 10 + legendHeight(legend)), units, name) + axes(scale, units);
    std::vector<std::vector<Mark>> marks;
    for (uint16_t i = 0; i <= r.u16ProgramCount; ++i) {
        bool drawn = i < r.u16ProgramCount && !lines.steps[i].empty();
        marks.push_back(marksOf(lines.errors[i], frame, scale, drawn ? &lines.steps[i] : nullptr));
    }
    Taken taken = crossesOf(marks);
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        if (!lines.steps[i].empty()) svg += drawLine(lines.steps[i], scale, i, r.ltProgram[i].u16ProgramNumber, taken);
    }
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        svg += drawMarks(marks[i], std::to_string(r.ltProgram[i].u16ProgramNumber), kErrorColour, taken);
    }
    svg += drawMarks(marks.back(), "none", kOutsideColour, taken);
    return svg + drawLegend(legend) + "</svg>\n";
}

}  // namespace rivulet::tool
