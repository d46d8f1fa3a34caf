#include "web/stats/chart_svg.h"

#include <libxml/tree.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

namespace annc {
namespace {

constexpr double kWidth = 720;
constexpr double kHeight = 260;
constexpr double kLeft = 56;  // room for the count axis' labels
constexpr double kRight = 8;
constexpr double kTop = 12;
constexpr double kBottom = 36;  // room for the bars' labels
constexpr double kPlotHeight = kHeight - kTop - kBottom;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kBarShare = 0.75;  // of each bar's slot; the rest is the gap

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

std::string Coordinate(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The smallest of 1, 2 and 5 times a power of ten that is at least `most`:
// the top of the count axis. At least 1, so that a chart of zeros has an
// axis and bars of no height.
double AxisTop(std::int64_t most) {
  if (most <= 1) return 1;
  double wanted = static_cast<double>(most);
  double power = std::pow(10.0, std::floor(std::log10(wanted)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= wanted) return factor * power;
  }
  return 10 * power;
}

// A count for an axis label, short enough for its margin: 2500, 25k,
// 2.5M, up to E for 10^18.
std::string Compact(double value) {
  static constexpr std::pair<double, const char*> kUnits[] = {
      {1e18, "E"}, {1e15, "P"}, {1e12, "T"}, {1e9, "G"}, {1e6, "M"}, {1e4, "k"}};
  char text[32];
  for (const auto& [unit, suffix] : kUnits) {
    if (value >= unit) {
      std::snprintf(text, sizeof text, "%g%s", value / (unit == 1e4 ? 1e3 : unit), suffix);
      return text;
    }
  }
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

std::string Calls(std::int64_t count) { return std::to_string(count) + (count == 1 ? " call" : " calls"); }

// The document and its root, freed together.
class SvgDocument {
 public:
  SvgDocument(const std::string& label) : doc_(xmlNewDoc(X("1.0"))) {
    root_ = xmlNewNode(nullptr, X("svg"));
    xmlDocSetRootElement(doc_, root_);
    ns_ = xmlNewNs(root_, X("http://www.w3.org/2000/svg"), nullptr);
    xmlSetNs(root_, ns_);
    std::string box = "0 0 " + std::to_string(static_cast<int>(kWidth)) + " " + std::to_string(static_cast<int>(kHeight));
    Set(root_, "viewBox", box);
    Set(root_, "width", std::to_string(static_cast<int>(kWidth)));
    Set(root_, "height", std::to_string(static_cast<int>(kHeight)));
    Set(root_, "role", "img");
    Set(root_, "aria-label", label);
  }
  ~SvgDocument() { xmlFreeDoc(doc_); }
  SvgDocument(const SvgDocument&) = delete;
  SvgDocument& operator=(const SvgDocument&) = delete;

  xmlNodePtr root() { return root_; }
  xmlNodePtr Element(xmlNodePtr parent, const char* name) { return xmlNewChild(parent, ns_, X(name), nullptr); }
  // An element holding `text` as text: xmlNewTextChild escapes it (where
  // xmlNewChild would take it for markup).
  xmlNodePtr TextElement(xmlNodePtr parent, const char* name, const std::string& text) {
    return xmlNewTextChild(parent, ns_, X(name), X(text.c_str()));
  }
  // The attribute's value is kept as text and escaped when written.
  static void Set(xmlNodePtr node, const char* name, const std::string& value) {
    xmlNewProp(node, X(name), X(value.c_str()));
  }

  // The <svg> element alone, without an XML declaration.
  std::string Text() {
    std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(), xmlBufferFree);
    if (!buffer || xmlNodeDump(buffer.get(), doc_, root_, 0, 0) < 0) return {};
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<std::size_t>(xmlBufferLength(buffer.get())));
  }

 private:
  xmlDocPtr doc_;
  xmlNodePtr root_;
  xmlNsPtr ns_;
};

struct Part {
  const char* name;  // the <rect>'s class
  std::int64_t calls;
};

struct Bar {
  std::string label;  // under the bar
  std::string title;  // the bar's <title>
  std::vector<Part> parts;  // bottom to top

  std::int64_t total() const {
    std::int64_t sum = 0;
    for (const Part& part : parts) sum += part.calls;
    return sum;
  }
};

std::string Chart(const std::string& ariaLabel, const char* barClass, const std::vector<Bar>& bars) {
  SvgDocument svg(ariaLabel);
  svg.Set(svg.root(), "class", std::string("chart ") + barClass + "-chart");
  std::int64_t most = 0;
  for (const Bar& bar : bars) most = std::max(most, bar.total());
  double top = AxisTop(most);
  double base = kTop + kPlotHeight;

  // The count axis: a line and a label at zero, half and the top.
  xmlNodePtr axis = svg.Element(svg.root(), "g");
  svg.Set(axis, "class", "axis");
  for (double tick : {0.0, top / 2, top}) {
    if (tick != std::floor(tick)) continue;  // the half of 1
    double y = base - tick / top * kPlotHeight;
    xmlNodePtr line = svg.Element(axis, "line");
    svg.Set(line, "class", tick == 0 ? "baseline" : "grid");
    svg.Set(line, "x1", Coordinate(kLeft));
    svg.Set(line, "x2", Coordinate(kWidth - kRight));
    svg.Set(line, "y1", Coordinate(y));
    svg.Set(line, "y2", Coordinate(y));
    xmlNodePtr label = svg.TextElement(axis, "text", Compact(tick));
    svg.Set(label, "class", "tick");
    svg.Set(label, "x", Coordinate(kLeft - 6));
    svg.Set(label, "y", Coordinate(y + 4));
    svg.Set(label, "text-anchor", "end");
  }

  double slot = bars.empty() ? kPlotWidth : kPlotWidth / static_cast<double>(bars.size());
  double width = slot * kBarShare;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const Bar& bar = bars[i];
    xmlNodePtr group = svg.Element(svg.root(), "g");
    svg.Set(group, "class", barClass);
    svg.TextElement(group, "title", bar.title);
    double x = kLeft + static_cast<double>(i) * slot + (slot - width) / 2;
    // Stacked from the base up; each part's height is its count's share of
    // the axis, so that the parts of all bars compare.
    double below = 0;
    for (const Part& part : bar.parts) {
      double height = static_cast<double>(part.calls) / top * kPlotHeight;
      xmlNodePtr rect = svg.Element(group, "rect");
      svg.Set(rect, "class", part.name);
      svg.Set(rect, "x", Coordinate(x));
      svg.Set(rect, "y", Coordinate(base - below - height));
      svg.Set(rect, "width", Coordinate(width));
      svg.Set(rect, "height", Coordinate(height));
      below += height;
    }
    xmlNodePtr label = svg.TextElement(group, "text", bar.label);
    svg.Set(label, "class", "label");
    svg.Set(label, "x", Coordinate(x + width / 2));
    svg.Set(label, "y", Coordinate(base + 16));
    svg.Set(label, "text-anchor", "middle");
  }
  return svg.Text();
}

// A day's text as the chart shows it: only a real date, anything else as
// "?" (Statistics may come from elsewhere than ReadStatistics).
std::string ShownDay(const std::string& day) { return AddDays(day, 0) ? day : "?"; }

}  // namespace

std::string DayChartSvg(const Statistics& stats) {
  std::vector<Bar> bars;
  for (const DayCounts& day : stats.days) {
    std::string shown = ShownDay(day.day);
    // Under the bar the day of the month; its <title> has the whole date.
    const DecisionCounts& c = day.calls;
    std::string title = shown + ": " + Calls(c.total()) + " (announce " + std::to_string(c.announce) + ", quiet " +
                        std::to_string(c.quiet) + ", block " + std::to_string(c.block) + ")";
    bars.push_back(Bar{shown.size() == 10 ? shown.substr(8) : shown, title,
                       {{"announce", c.announce}, {"quiet", c.quiet}, {"block", c.block}}});
  }
  std::string label = stats.days.empty() ? std::string("Calls per day: none")
                                         : "Calls per day from " + ShownDay(stats.days.front().day) + " to " +
                                               ShownDay(stats.days.back().day) + ", stacked by decision";
  return Chart(label, "day", bars);
}

std::string HourChartSvg(const Statistics& stats) {
  std::vector<Bar> bars;
  for (std::size_t hour = 0; hour < stats.hours.size(); ++hour) {
    char label[8], title[16];
    std::snprintf(label, sizeof label, "%02zu", hour);
    std::snprintf(title, sizeof title, "%02zu:00-%02zu:59", hour, hour);
    bars.push_back(Bar{label, std::string(title) + ": " + Calls(stats.hours[hour]), {{"calls", stats.hours[hour]}}});
  }
  std::string label = "Calls per hour of the day";
  if (!stats.days.empty()) {
    label += " from " + ShownDay(stats.days.front().day) + " to " + ShownDay(stats.days.back().day);
  }
  return Chart(label, "hour", bars);
}

}  // namespace annc
