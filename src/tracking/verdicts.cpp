#include "tracking/verdicts.h"

#include <algorithm>
#include <compare>
#include <map>
#include <stdexcept>

#include "platform/numbers.h"

namespace qlcore {

namespace {

// Median of the similarities in single precision, as the report has always
// shown it; an even count takes the single-precision mean of the middle two.
float _median(const std::vector<Sample>& samples) {
    std::vector<float> v;
    v.reserve(samples.size());
    for (const Sample& s : samples)
        v.push_back(static_cast<float>(s.sim));
    // A total order, so a NaN similarity cannot upset the sort.
    std::sort(v.begin(), v.end(), [](float a, float b) { return std::strong_order(a, b) < 0; });
    size_t n = v.size();
    if (n % 2 == 1) return v[n / 2];
    return (v[n / 2 - 1] + v[n / 2]) / 2.0f;
}

double _max_or(const std::vector<double>& v, double fallback) {
    return v.empty() ? fallback : *std::max_element(v.begin(), v.end());
}

}  // namespace

Decision decide(const Track& track, const std::vector<std::string>& names, double keep_threshold) {
    Decision d;
    d.n_samples = static_cast<int>(track.samples.size());
    if (track.samples.empty() || names.empty()) return d;

    std::map<int, int> votes;
    std::vector<int> first_voted;  // persons in the order of their first vote
    for (const Sample& s : track.samples) {
        if (!(s.sim >= keep_threshold)) continue;
        if (votes[s.person]++ == 0) first_voted.push_back(s.person);
    }

    double med = _median(track.samples);
    d.median = round_places(med, 3);
    double low = keep_threshold - REVIEW_BAND;
    double high = keep_threshold + REVIEW_BAND;
    if (first_voted.empty()) {
        if (med >= low) d.review = Review::MosaicBorderline;
        return d;
    }

    int pi = first_voted.front();
    for (int p : first_voted)
        if (votes[p] > votes[pi]) pi = p;
    double frac = static_cast<double>(votes[pi]) / static_cast<double>(track.samples.size());
    size_t need = track.frames.size() < 15 ? 2 : 3;

    if (track.samples.size() >= need && med >= keep_threshold && frac >= 0.6) {
        // A sample naming someone outside this Gallery means the samples and
        // names do not belong together; keeping a face on that is unsafe.
        if (pi < 0 || static_cast<size_t>(pi) >= names.size())
            throw std::out_of_range("decide: person index " + std::to_string(pi) + " outside " +
                                    std::to_string(names.size()) + " names");
        d.keep = true;
        d.person = names[static_cast<size_t>(pi)];
        if (med < high || frac < 0.8) d.review = Review::KeptBorderline;
        return d;
    }
    if (med >= low) d.review = Review::MosaicBorderline;
    return d;
}

bool is_flash(const Track& track) {
    double best = _max_or(track.scores, 1.0);
    if (best < WEAK_SCORE && track.frames.size() < static_cast<size_t>(WEAK_MIN_FRAMES))
        return true;
    return track.frames.size() == 1 && best < FLASH_SCORE;
}

bool is_lookalike(const Track& track, double long_side) {
    if (track.checks.empty()) return false;
    double widest = 0.0;
    for (const Box& b : track.boxes)
        widest = std::max(widest, b.w);
    // At the cache's precision, so a rerun from it finds the same size.
    bool big = round_places(widest, BOX_PLACES) >= LOOKALIKE_MIN_FRAC * long_side;
    if (!big && track.frames.size() > static_cast<size_t>(LOOKALIKE_SHORT)) return false;
    if (_max_or(track.scores, 0.0) >= VERIFY_SKIP) return false;
    return _max_or(track.checks, 0.0) < VERIFY_PASS;
}

std::optional<IgnoreReason> ignored(const Track& track, double long_side, bool keep_long) {
    if (is_flash(track)) return IgnoreReason::Flash;
    if (keep_long && track.frames.size() >= static_cast<size_t>(LONG_TRACK)) return std::nullopt;
    if (is_lookalike(track, long_side)) return IgnoreReason::Lookalike;
    return std::nullopt;
}

}  // namespace qlcore
