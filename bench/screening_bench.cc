// Screening benchmark: reads a generated list of N entries (default 100000)
// through the real file system and times reading it and deciding calls.
//   build/screening_bench [ENTRIES]
// Prints "read_ms MEDIAN", "decide_us MEDIAN MAX" and "rss_kb N".
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "line/screening/screener.h"
#include "posix/posix_line_system.h"

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/screening_bench.block";
  std::mt19937 rng(42);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "# generated list\n";
    for (int i = 0; i < entries; ++i) {
      unsigned n = rng() % 9000000000u + 1000000000u;
      switch (i % 10) {
        case 0: out << "^1" << n / 1000 << " #= prefix " << i << "\n"; break;
        case 1: out << "\"SPAM CALLER " << i << "\" #= name\n"; break;
        default: out << n << " #= junk " << i << "\n";
      }
    }
  }
  std::vector<double> reads;
  for (int r = 0; r < 11; ++r) {
    annc::SystemFiles files;
    annc::Screener screener(annc::ScreeningSettings{{path}, {}, {}, 3}, files);
    auto t0 = Clock::now();
    std::string error = screener.Start();
    reads.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  annc::SystemFiles files;
  annc::Screener screener(annc::ScreeningSettings{{path}, {}, {*annc::ParseQuietWindow("22:00-07:00")}, 3}, files);
  if (!screener.Start().empty()) return 1;
  std::vector<double> decisions;
  std::vector<std::string> status;
  for (int i = 0; i < 2000; ++i) {
    annc::ScreenedCall call{std::to_string(rng() % 9000000000u + 1000000000u),
                            std::string(i % 2 ? "JOHN Q PUBLIC CALLER" : "WIRELESS CALLER")};
    auto t0 = Clock::now();
    annc::Decision d = screener.Screen(call, i * 1000, i % 1440, &status);
    decisions.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (d.kind == annc::Decision::kBlock && d.rule.empty()) return 1;
  }
  std::remove(path.c_str());
  std::sort(reads.begin(), reads.end());
  std::sort(decisions.begin(), decisions.end());
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("entries %d\nread_ms %.1f\ndecide_us %.1f %.1f\nrss_kb %ld\n", entries, reads[reads.size() / 2],
              decisions[decisions.size() / 2], decisions.back(), usage.ru_maxrss);
  return 0;
}
