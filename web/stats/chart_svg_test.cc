#include "web/stats/chart_svg.h"
