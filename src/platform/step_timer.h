// Where a run's time goes, step by step, for the benchmarks. Off unless the
// environment says QLCORE_TIMINGS=1; then every timed step writes one line to
// standard error, "qlcore timing: <step> <seconds>", and nothing else changes.
#pragma once

#include <string>
#include <utility>

namespace qlcore {

// Read once: the setting holds for the whole run.
bool timings_on();

// The line a step of `seconds` is reported with (no line break).
std::string timing_line(const std::string& step, double seconds);

// With timings on, writes "qlcore peak memory: <KiB> KiB", the program's own
// peak resident set so far (its ffmpeg children not counted).
void report_peak_memory();

// Times the scope it lives in; reports also when an error ends the scope, so
// a failed step still shows what it cost.
class StepTimer {
  public:
    explicit StepTimer(const char* step);
    ~StepTimer();
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

  private:
    const char* step_;
    double t0_ = 0.0;
};

// f(), timed as `step`.
template <class F>
auto timed(const char* step, F&& f) {
    StepTimer t(step);
    return std::forward<F>(f)();
}

}  // namespace qlcore
