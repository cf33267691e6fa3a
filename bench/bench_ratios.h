// Ratios between benchmarks of one run, printed by the benchmark program after its table:
// the median processor time of `subject` divided by that of `baseline` (names as registered);
// and goals for a benchmark's own counters.
#pragma once

#include <string>

enum : int { kNoGoal = 0, kAtMost = 1, kAtLeast = 2 };

// Asks for the ratio subject / baseline, with an optional goal for it.
void AddBenchRatio(const std::string& label, const std::string& subject,
                   const std::string& baseline, int goalKind = kNoGoal, double goal = 0);
// Asks for the median of counter `counter` of benchmark `benchmark`, checked against a goal.
void AddBenchCounterGoal(const std::string& label, const std::string& benchmark,
                         const std::string& counter, int goalKind, double goal);
