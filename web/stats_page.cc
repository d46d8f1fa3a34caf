// The statistics page: calls per day over the last 30 days stacked by
// decision, calls per hour of the day, and the top callers and the top
// blocked numbers, read from the history on its read-only connection.
#include <time.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "web/page_parts.h"
#include "web/stats/chart_svg.h"
#include "web/stats/statistics.h"

namespace annc::web {
namespace {

// How long the statistics read once are shown again. With a big history a
// read takes a noticeable moment, and the page is often reloaded; numbers
// half a minute old are fine for a chart of 30 days.
constexpr std::int64_t kCacheSeconds = 30;

struct StatsCache {
  std::mutex mutex;
  std::string today;
  std::int64_t readAt = 0;
  Statistics stats;
  bool filled = false;
};

// The server's local date of `epoch`, YYYY-MM-DD.
std::string LocalDate(std::int64_t epoch) {
  time_t t = static_cast<time_t>(epoch);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return "";
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return text;
}

void AddTopTable(Element& main, const char* title, const std::vector<TopCaller>& callers, const char* id) {
  main.AddText("h2", title);
  if (callers.empty()) {
    main.AddText("p", "None.");
    return;
  }
  Element& table = main.Add("table").Class("top").Attr("id", id);
  Element& head = table.Add("thead").Add("tr");
  for (const char* column : {"Number", "Name", "Calls"}) head.AddText("th", column);
  Element& body = table.Add("tbody");
  for (const TopCaller& caller : callers) {
    Element& row = body.Add("tr");
    row.Add("td").Class("number").AddText("a", caller.number).Attr("href",
                                                                   WithQuery("/caller", {{"number", caller.number}}));
    row.AddText("td", caller.name).Class("name");
    row.AddText("td", std::to_string(caller.calls)).Class("calls");
  }
}

void AddChart(Element& main, const char* title, const std::string& svg) {
  Element& figure = main.Add("figure").Class("chart");
  if (!figure.AddXml(svg)) figure.AddText("p", "The chart could not be drawn.").Class("error");
  figure.AddText("figcaption", title);
}

Response StatsPage(Request& request, WebContext& context, StatsCache& cache) {
  std::int64_t now = context.now();
  std::string today = LocalDate(now);
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (!cache.filled || cache.today != today || now - cache.readAt >= kCacheSeconds || now < cache.readAt) {
    std::string error;
    Statistics stats = ReadStatistics(context.history->connection(), today, &error);
    if (!error.empty()) return Response::Message(503, "The call history cannot be read now: " + error);
    cache.stats = std::move(stats);
    cache.today = today;
    cache.readAt = now;
    cache.filled = true;
  }
  const Statistics& stats = cache.stats;
  Page page("Statistics", FrameFor(request, "/stats"));
  Element& main = page.main();
  std::string first = stats.days.empty() ? today : stats.days.front().day;
  main.AddText("p", "The last " + std::to_string(kStatisticsDays) + " days, " + first + " to " + today + ".");
  main.AddText("h2", "Calls per day");
  AddChart(main, "Calls per day: announced, quiet and blocked", DayChartSvg(stats));
  main.AddText("h2", "Calls by hour of the day");
  AddChart(main, "Calls by the hour of the day they came in", HourChartSvg(stats));
  AddTopTable(main, "Top callers", stats.topCallers, "top-callers");
  AddTopTable(main, "Top blocked", stats.topBlocked, "top-blocked");
  if (stats.withheldCalls > 0) {
    main.AddText("p", std::to_string(stats.withheldCalls) + " calls without a number are in no top list.");
  }
  Response response = Response::Html(200, page.Serialize());
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

}  // namespace

void AddStatsPage(RouteTable& routes, WebContext& context) {
  WebContext* c = &context;
  auto cache = std::make_shared<StatsCache>();
  routes.Add({"GET", "/stats", [c, cache](Request& r) { return StatsPage(r, *c, *cache); }});
}

}  // namespace annc::web
