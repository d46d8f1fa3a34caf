// The statistics page's charts as SVG, drawn by the server: a standalone
// <svg> element each, to be put inline in the page or served as
// image/svg+xml. Each bar is a <g> with a <title> saying its counts and a
// <rect> per part, its class naming the part for the page's CSS to colour.
#ifndef ANNC_WEB_STATS_CHART_SVG_H_
#define ANNC_WEB_STATS_CHART_SVG_H_

#include <string>

#include "web/stats/statistics.h"

namespace annc {

// Calls per day: one <g class="day"> per entry of stats.days, in its order,
// its rects stacked by decision from the base up: announce, quiet, block.
std::string DayChartSvg(const Statistics& stats);
// Calls per hour of the day: one <g class="hour"> per hour, 00 to 23, with
// one <rect class="calls">.
std::string HourChartSvg(const Statistics& stats);

}  // namespace annc

#endif  // ANNC_WEB_STATS_CHART_SVG_H_
