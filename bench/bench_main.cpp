// The benchmark program's entry: runs the benchmarks with the usual console table, then
// prints the ratios the benchmark files asked for, from medians when repetitions were run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_ratios.h"

namespace {

struct RatioRequest {
  std::string label;
  std::string subject;
  std::string baseline;
  int goalKind;
  double goal;
};

std::vector<RatioRequest>& Requests() {
  static std::vector<RatioRequest> requests;
  return requests;
}

// The console table, and the processor time per iteration of every run in seconds.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // Processor time: on a shared machine it leaves out the time the process waited for a
      // processor, and a single-threaded benchmark spends no other time.
      const double seconds =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = seconds;
      } else {
        samples_[name].push_back(seconds);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The median time of a benchmark, or 0 when it did not run.
  double Seconds(const std::string& name) const {
    if (auto it = medians_.find(name); it != medians_.end()) return it->second;
    auto it = samples_.find(name);
    if (it == samples_.end() || it->second.empty()) return 0;
    std::vector<double> values = it->second;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> samples_;
};

void PrintRatios(const RecordingReporter& reporter) {
  bool header = false;
  for (const RatioRequest& request : Requests()) {
    const double subject = reporter.Seconds(request.subject);
    const double baseline = reporter.Seconds(request.baseline);
    if (subject <= 0 || baseline <= 0) continue;
    if (!header) {
      std::printf("\nRatios (median processor time of the first over the second):\n");
      header = true;
    }
    const double ratio = subject / baseline;
    std::printf("  %-58s %7.2f", request.label.c_str(), ratio);
    if (request.goalKind == kAtMost) {
      std::printf("   goal <= %.2f: %s", request.goal, ratio <= request.goal ? "met" : "MISSED");
    } else if (request.goalKind == kAtLeast) {
      std::printf("   goal >= %.2f: %s", request.goal, ratio >= request.goal ? "met" : "MISSED");
    }
    std::printf("\n");
  }
}

}  // namespace

void AddBenchRatio(const std::string& label, const std::string& subject,
                   const std::string& baseline, int goalKind, double goal) {
  Requests().push_back({label, subject, baseline, goalKind, goal});
}

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
