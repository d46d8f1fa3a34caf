#include "web/stats/chart_svg.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "web/stats/test_history.h"

namespace annc {
namespace {

std::string Attribute(xmlNodePtr node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
}

std::string Name(xmlNodePtr node) { return reinterpret_cast<const char*>(node->name); }

std::vector<xmlNodePtr> Children(xmlNodePtr node, const char* name) {
  std::vector<xmlNodePtr> found;
  for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && Name(child) == name) found.push_back(child);
  }
  return found;
}

std::string Content(xmlNodePtr node) {
  xmlChar* text = xmlNodeGetContent(node);
  std::string content = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return content;
}

// The SVG parsed by libxml2's own parser, which must take it without a
// complaint.
class Parsed {
 public:
  explicit Parsed(const std::string& svg)
      : doc_(xmlReadMemory(svg.data(), static_cast<int>(svg.size()), "chart.svg", nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)) {}
  ~Parsed() { xmlFreeDoc(doc_); }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;
  xmlNodePtr root() const { return doc_ != nullptr ? xmlDocGetRootElement(doc_) : nullptr; }

  // The bars: the root's <g> of `kind`, each with its rects.
  std::vector<xmlNodePtr> Bars(const char* kind) const {
    std::vector<xmlNodePtr> bars;
    for (xmlNodePtr g : Children(root(), "g")) {
      if (Attribute(g, "class") == kind) bars.push_back(g);
    }
    return bars;
  }

 private:
  xmlDocPtr doc_;
};

void ExpectEveryElementIsOurs(xmlNodePtr node, const std::string& where) {
  static const std::set<std::string> kOurs = {"svg", "g", "rect", "line", "text", "title"};
  for (; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) {
      EXPECT_TRUE(kOurs.contains(Name(node))) << where << ": <" << Name(node) << ">";
      for (xmlAttrPtr attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        std::string name = reinterpret_cast<const char*>(attribute->name);
        EXPECT_NE(name.substr(0, 2), "on") << where << ": " << name;
      }
      ExpectEveryElementIsOurs(node->children, where);
    }
  }
}

Statistics Days(const std::vector<DecisionCounts>& counts) {
  Statistics stats;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    stats.days.push_back(DayCounts{*AddDays("2026-12-01", static_cast<int>(i)), counts[i]});
  }
  return stats;
}

TEST(ChartSvgTest, TheDayChartIsOneStackedGroupPerDay) {
  std::vector<DecisionCounts> counts(30);
  counts[0] = {1, 0, 0};
  counts[3] = {4, 2, 1};
  counts[29] = {10, 5, 3};
  Parsed svg(DayChartSvg(Days(counts)));
  ASSERT_NE(svg.root(), nullptr);
  EXPECT_EQ(Name(svg.root()), "svg");
  ASSERT_NE(svg.root()->ns, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(svg.root()->ns->href), "http://www.w3.org/2000/svg");
  EXPECT_EQ(Attribute(svg.root(), "role"), "img");
  EXPECT_EQ(Attribute(svg.root(), "aria-label"), "Calls per day from 2026-12-01 to 2026-12-30, stacked by decision");
  std::vector<xmlNodePtr> bars = svg.Bars("day");
  ASSERT_EQ(bars.size(), 30u);
  ASSERT_EQ(Children(bars[3], "title").size(), 1u);
  EXPECT_EQ(Content(Children(bars[3], "title")[0]), "2026-12-04: 7 calls (announce 4, quiet 2, block 1)");
  EXPECT_EQ(Content(Children(bars[0], "title")[0]), "2026-12-01: 1 call (announce 1, quiet 0, block 0)");
  EXPECT_EQ(Content(Children(bars[29], "text")[0]), "30");
  // Each part's height over its count is one scale for the whole chart, and
  // the parts stand on one another from the base up.
  double scale = 0;
  for (std::size_t d = 0; d < bars.size(); ++d) {
    std::vector<xmlNodePtr> rects = Children(bars[d], "rect");
    ASSERT_EQ(rects.size(), 3u);
    const char* kinds[] = {"announce", "quiet", "block"};
    std::int64_t parts[] = {counts[d].announce, counts[d].quiet, counts[d].block};
    double top = 0;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(Attribute(rects[k], "class"), kinds[k]);
      double y = std::stod(Attribute(rects[k], "y")), height = std::stod(Attribute(rects[k], "height"));
      if (k > 0) {
        EXPECT_NEAR(y + height, top, 0.011) << "day " << d << " " << kinds[k];
      }
      top = y;
      if (parts[k] == 0) {
        EXPECT_EQ(height, 0) << "day " << d << " " << kinds[k];
        continue;
      }
      if (scale == 0) scale = height / static_cast<double>(parts[k]);
      EXPECT_NEAR(height, scale * static_cast<double>(parts[k]), 0.011) << "day " << d << " " << kinds[k];
    }
  }
  // The tallest bar fills most of the chart (the axis' top is 20 for 18).
  std::vector<xmlNodePtr> last = Children(bars[29], "rect");
  double tallest = 0;
  for (xmlNodePtr rect : last) tallest += std::stod(Attribute(rect, "height"));
  EXPECT_NEAR(tallest / (scale * 20), 18.0 / 20, 0.001);
  ExpectEveryElementIsOurs(svg.root(), "day chart");
}

TEST(ChartSvgTest, ScalesHoldForZerosAndHugeCounts) {
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max() / 4;
  struct Case {
    const char* what;
    DecisionCounts most;  // on the last day; the others have none
    const char* axisTop;
  } cases[] = {
      {"all zeros", {0, 0, 0}, "1"},
      {"one call", {0, 0, 1}, "1"},
      {"exactly a round count", {1000, 0, 0}, "1000"},
      {"just above one", {1000, 0, 1}, "2000"},
      {"a million", {700000, 200000, 100001}, "2M"},
      {"near the largest count", {huge, huge, huge}, "10E"},
  };
  for (const Case& c : cases) {
    std::vector<DecisionCounts> counts(30);
    counts[29] = c.most;
    Statistics stats = Days(counts);
    for (std::size_t h = 0; h < 24; ++h) stats.hours[h] = c.most.total() / 24 * static_cast<std::int64_t>(h % 2);
    for (const std::string& text : {DayChartSvg(stats), HourChartSvg(stats)}) {
      Parsed svg(text);
      ASSERT_NE(svg.root(), nullptr) << c.what;
      EXPECT_EQ(text.find("nan"), std::string::npos) << c.what;
      EXPECT_EQ(text.find("inf"), std::string::npos) << c.what;
      for (const char* kind : {"day", "hour"}) {
        for (xmlNodePtr bar : svg.Bars(kind)) {
          double stacked = 0;
          for (xmlNodePtr rect : Children(bar, "rect")) {
            double y = std::stod(Attribute(rect, "y")), height = std::stod(Attribute(rect, "height"));
            EXPECT_GE(height, 0) << c.what;
            EXPECT_GE(y, 0) << c.what;
            stacked += height;
          }
          EXPECT_LE(stacked, 212.01) << c.what;  // the plot's height
        }
      }
    }
    Parsed day(DayChartSvg(stats));
    std::vector<std::string> ticks;
    for (xmlNodePtr axis : day.Bars("axis")) {
      for (xmlNodePtr text : Children(axis, "text")) ticks.push_back(Content(text));
    }
    ASSERT_FALSE(ticks.empty()) << c.what;
    EXPECT_EQ(ticks.front(), "0") << c.what;
    EXPECT_EQ(ticks.back(), c.axisTop) << c.what;
  }
}

TEST(ChartSvgTest, TheHourChartHasTwentyFourBarsProportionalToTheCounts) {
  Statistics stats;
  for (std::size_t h = 0; h < 24; ++h) stats.hours[h] = static_cast<std::int64_t>(h * 3);
  Parsed svg(HourChartSvg(stats));
  ASSERT_NE(svg.root(), nullptr);
  EXPECT_EQ(Attribute(svg.root(), "role"), "img");
  EXPECT_NE(Attribute(svg.root(), "aria-label"), "");
  std::vector<xmlNodePtr> bars = svg.Bars("hour");
  ASSERT_EQ(bars.size(), 24u);
  EXPECT_EQ(Content(Children(bars[21], "title")[0]), "21:00-21:59: 63 calls");
  EXPECT_EQ(Content(Children(bars[1], "title")[0]), "01:00-01:59: 3 calls");
  double scale = std::stod(Attribute(Children(bars[1], "rect")[0], "height")) / 3;
  ASSERT_GT(scale, 0);
  for (std::size_t h = 0; h < 24; ++h) {
    std::vector<xmlNodePtr> rects = Children(bars[h], "rect");
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(Attribute(rects[0], "class"), "calls");
    EXPECT_NEAR(std::stod(Attribute(rects[0], "height")), scale * static_cast<double>(h * 3), 0.011) << h;
  }
  ExpectEveryElementIsOurs(svg.root(), "hour chart");
}

// Statistics filled by someone else may hold any text where a day should be,
// and a history any text in its rows: none of it becomes markup.
TEST(ChartSvgTest, HostileTextNeverBecomesMarkup) {
  const std::vector<std::string> hostile = {
      "<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>", "2026-12-01\"><script>x</script>",
      "]]><svg onload=alert(1)>", "&amp;&lt;", std::string("a\x01\x1b[2Jb"), "\xff\xfe<g>"};
  Statistics stats;
  for (const std::string& text : hostile) stats.days.push_back(DayCounts{text, {1, 2, 3}});
  for (const std::string& svg : {DayChartSvg(stats), HourChartSvg(stats)}) {
    Parsed parsed(svg);
    ASSERT_NE(parsed.root(), nullptr) << svg;
    ExpectEveryElementIsOurs(parsed.root(), svg);
    for (const std::string& text : hostile) EXPECT_EQ(svg.find(text), std::string::npos) << text;
  }

  // A real history with hostile names, numbers and times.
  testing::ZoneScope zone("Asia/Kolkata");
  testing::TestHistory history("web_stats_hostile");
  for (const std::string& text : hostile) {
    history.Add("2026-12-05T10:00:00+05:30", text, "block", text);
    history.Add("2026-12-05T11:00:00+05:30", "5551", text, text);
  }
  std::string error;
  Statistics read = ReadStatistics(history.db(), "2026-12-10", &error);
  ASSERT_EQ(error, "");
  ASSERT_FALSE(read.topBlocked.empty());
  for (const std::string& svg : {DayChartSvg(read), HourChartSvg(read)}) {
    Parsed parsed(svg);
    ASSERT_NE(parsed.root(), nullptr) << svg;
    ExpectEveryElementIsOurs(parsed.root(), svg);
    EXPECT_EQ(svg.find("alert"), std::string::npos);
  }
}

}  // namespace
}  // namespace annc
