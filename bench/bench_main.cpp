// The benchmark program's entry: runs the benchmarks with the usual console table, then
// prints the ratios and counters the benchmark files asked for, from medians when repetitions
// were run.
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

struct CounterGoal {
  std::string label;
  std::string benchmark;
  std::string counter;
  int goalKind;
  double goal;
};

std::vector<CounterGoal>& CounterGoals() {
  static std::vector<CounterGoal> goals;
  return goals;
}

// "   goal <= 7.00: met" for a value and its goal; nothing without a goal.
void PrintGoal(double value, int goalKind, double goal) {
  if (goalKind == kAtMost) {
    std::printf("   goal <= %.2f: %s", goal, value <= goal ? "met" : "MISSED");
  } else if (goalKind == kAtLeast) {
    std::printf("   goal >= %.2f: %s", goal, value >= goal ? "met" : "MISSED");
  }
  std::printf("\n");
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
        if (run.aggregate_name == "median") {
          medians_[name] = seconds;
          for (const auto& [counter, value] : run.counters) counterMedians_[name][counter] = value;
        }
      } else {
        samples_[name].push_back(seconds);
        for (const auto& [counter, value] : run.counters) {
          counterSamples_[name][counter].push_back(value);
        }
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The median time of a benchmark, or 0 when it did not run.
  double Seconds(const std::string& name) const {
    if (auto it = medians_.find(name); it != medians_.end()) return it->second;
    auto it = samples_.find(name);
    return it == samples_.end() ? 0 : Median(it->second);
  }

  // The median of a benchmark's counter; false when it did not run or has no such counter.
  bool Counter(const std::string& name, const std::string& counter, double* value) const {
    if (auto it = counterMedians_.find(name); it != counterMedians_.end()) {
      if (auto c = it->second.find(counter); c != it->second.end()) {
        *value = c->second;
        return true;
      }
    }
    auto it = counterSamples_.find(name);
    if (it == counterSamples_.end()) return false;
    auto c = it->second.find(counter);
    if (c == it->second.end() || c->second.empty()) return false;
    *value = Median(c->second);
    return true;
  }

 private:
  static double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }

  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> samples_;
  std::map<std::string, std::map<std::string, double>> counterMedians_;
  std::map<std::string, std::map<std::string, std::vector<double>>> counterSamples_;
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
    PrintGoal(ratio, request.goalKind, request.goal);
  }
  header = false;
  for (const CounterGoal& goal : CounterGoals()) {
    double value;
    if (!reporter.Counter(goal.benchmark, goal.counter, &value)) continue;
    if (!header) {
      std::printf("\nCounters (median):\n");
      header = true;
    }
    std::printf("  %-58s %7.2f", goal.label.c_str(), value);
    PrintGoal(value, goal.goalKind, goal.goal);
  }
}

}  // namespace

void AddBenchRatio(const std::string& label, const std::string& subject,
                   const std::string& baseline, int goalKind, double goal) {
  Requests().push_back({label, subject, baseline, goalKind, goal});
}

void AddBenchCounterGoal(const std::string& label, const std::string& benchmark,
                         const std::string& counter, int goalKind, double goal) {
  CounterGoals().push_back({label, benchmark, counter, goalKind, goal});
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
