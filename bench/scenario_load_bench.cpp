// SPDX-License-Identifier: GPL-2.0-or-later
// How the scenario loader's time grows with the number of volumes: a file of N volumes whose
// last repeats the first, against one of 8N. Each name is looked up once, so eight times the
// volumes should take about eight times as long (caches make it up to twelve here), not the 64
// times a check of every pair would. Exits 1 when the ratio reaches 24.
//   scenario_load_bench [N]     N defaults to 50000
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scenario.h"

namespace {

// The quicker of two loads of `count` volumes whose last repeats the first.
double SecondsToRefuseARepeatedVolume(int count) {
  std::string text = R"({"volumes": [)";
  for (int i = 0; i < count; ++i)
    text += R"({"name": "v)" + std::to_string(i) + R"("},)";
  text += R"({"name": "v0"}]})";
  double quickest = 1e9;
  for (int load = 0; load < 2; ++load) {
    const auto start = std::chrono::steady_clock::now();
    const raid::sim::ScenarioParseResult result = raid::sim::ParseScenario(text);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (result.scenario || result.error.find("is given twice") == std::string::npos) {
      std::fprintf(stderr, "scenario_load_bench: the repeated volume was not refused: %s\n",
                   result.error.c_str());
      std::exit(2);
    }
    quickest = std::min(quickest, took.count());
  }
  return quickest;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50000;
  const double small = SecondsToRefuseARepeatedVolume(count);
  const double large = SecondsToRefuseARepeatedVolume(8 * count);
  const double ratio = large / small;
  std::printf("%d volumes: %.3f s, %d volumes: %.3f s, ratio %.1f (linear: 8, pairwise: 64)\n",
              count, small, 8 * count, large, ratio);
  return ratio < 24 ? 0 : 1;
}
