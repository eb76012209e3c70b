#include "platform/step_timer.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qlcore {
namespace {

// Monotonic: the wall clock may jump while a step runs.
double _steady_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool timings_on() {
    static const bool on = [] {
        const char* v = std::getenv("QLCORE_TIMINGS");
        return v && std::strcmp(v, "1") == 0;
    }();
    return on;
}

std::string timing_line(const std::string& step, double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", seconds);
    return "qlcore timing: " + step + " " + buf;
}

void report_peak_memory() {
    if (!timings_on()) return;
#if !defined(_WIN32)
    rusage ru{};
    if (getrusage(RUSAGE_SELF, &ru) != 0) return;
#if defined(__APPLE__)
    const long kib = static_cast<long>(ru.ru_maxrss / 1024);  // bytes there
#else
    const long kib = static_cast<long>(ru.ru_maxrss);
#endif
    std::fprintf(stderr, "qlcore peak memory: %ld KiB\n", kib);
    std::fflush(stderr);
#endif
}

StepTimer::StepTimer(const char* step) : step_(step) {
    if (timings_on()) t0_ = _steady_seconds();
}

StepTimer::~StepTimer() {
    if (!timings_on()) return;
    // One write per line: the progress lines share the console.
    const std::string line = timing_line(step_, _steady_seconds() - t0_) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace qlcore
