#include "media/rates.h"

#include <cmath>

#include "platform/numbers.h"

namespace qlcore {
namespace {

// Relative distance under which a rate counts as a standard one.
constexpr double SNAP_TOLERANCE = 0.006;

}  // namespace

double rate_value(const std::optional<std::string>& r) {
    if (!r) return 0.0;
    const std::string& t = *r;
    double v = 0.0;
    size_t slash = t.find('/');
    if (slash != std::string::npos) {
        if (t.find('/', slash + 1) != std::string::npos) return 0.0;
        auto num = parse_double(t.substr(0, slash));
        auto den = parse_double(t.substr(slash + 1));
        if (!num || !den || *den == 0.0) return 0.0;
        v = *num / *den;
    } else {
        auto d = parse_double(t);
        if (!d) return 0.0;
        v = *d;
    }
    // "1/1e-320" overflows; no caller can use an infinite rate.
    return std::isfinite(v) ? v : 0.0;
}

std::optional<std::string> snap_rate(const std::optional<std::string>& avg,
                                     const std::optional<std::string>& raw) {
    const std::optional<std::string>* candidates[] = {&avg, &raw};
    for (const auto* cand : candidates) {
        double v = rate_value(*cand);
        if (v <= 0) continue;
        const char* best = STANDARD_RATES[0];
        double best_dist = std::fabs(rate_value(std::string(best)) - v);
        for (const char* r : STANDARD_RATES) {
            double d = std::fabs(rate_value(std::string(r)) - v);
            if (d < best_dist) best = r, best_dist = d;  // strict: earlier wins ties
        }
        if (best_dist / v < SNAP_TOLERANCE) return std::string(best);
    }
    for (const auto* cand : candidates)
        if (rate_value(*cand) > 0) return *cand;
    return std::nullopt;
}

}  // namespace qlcore
