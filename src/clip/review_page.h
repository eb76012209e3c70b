// The review page beside an output: every track of the search as a card
// with a picture of the face from the source and the same area from the
// output, so an editor can look instead of reading the report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qlcore {

// What became of a track, as the page tells it.
enum class CardVerdict {
    kept,  // left visible as `person`
    mosaicked,
    marked_by_you,    // kept by the overrides' "keep"
    hidden_by_you,    // mosaicked by the overrides' "hide"
    ignored_flash,    // one-frame false alarm
    ignored_nonface,  // hands, wheels...
    ignored_weak,     // a weak detection on too few frames
};

bool is_ignored(CardVerdict v);

// A timeline marker of the report, shown with its colour.
struct CardMarker {
    std::string color;  // the editor's colour name: "Red", "Yellow", ...
    std::string name;
};

struct ReviewCard {
    int id = 0;
    CardVerdict verdict = CardVerdict::mosaicked;
    std::string person;  // kept only
    int64_t first = 0;   // first and last frame of the box path
    int64_t last = 0;
    std::string first_tc;  // timecode_text of first/last; empty without one
    std::string last_tc;
    int64_t picture_frame = 0;  // where the detection scored highest
    double best_score = 0.0;
    std::optional<double> median;
    std::optional<CardMarker> marker;
    // Mosaicked though every re-check failed: the best of them.
    std::optional<double> failed_check;
    // The mark an overrides line names to pick this track, as the line
    // writes it ({"frame": 120, "box": [...]}); empty when none can.
    std::string override_mark;
    std::string source_jpeg;  // JPEG bytes; empty when none was taken
    std::string output_jpeg;
};

struct ReviewHeader {
    std::string source;
    std::string output;
    std::string date;
    std::vector<std::string> kept_people;
    std::string mode;   // e.g. "default", "fast"
    std::string style;  // the hiding style
    int64_t kept = 0;   // the counts of the summary line
    int64_t mosaicked = 0;
    int64_t n_flash = 0;
    int64_t n_look = 0;
    // The overrides in force for this output (the report's), as JSON: the
    // file the page saves starts from them.
    std::string in_force = "{}";
};

// `{"hide": [mark]}` for an ignored or kept track, `{"keep": [mark]}` for a
// mosaicked one, empty for every other verdict or without a mark.
std::string overrides_line(const ReviewCard& card);

// The whole page: live tracks in the order given, then the ignored ones.
// Every text from the caller is escaped; pictures are embedded, so the page
// is one file that loads nothing from anywhere.
std::string review_page_html(const ReviewHeader& header, const std::vector<ReviewCard>& cards);

// A001_mosaic.mov -> A001_mosaic.review.html
std::filesystem::path review_page_path(const std::filesystem::path& out);

// Writes the page beside `out` atomically; throws std::runtime_error.
void write_review_page(const std::filesystem::path& out, const std::string& html);

// Removes the page beside `out`, if there is one; never throws.
void remove_review_page(const std::filesystem::path& out);

// The clip's timecode at `frame` (0 = the clip's first frame) as
// HH:MM:SS:FF; empty when the clip has no timecode or no usable rate.
std::string timecode_text(const std::optional<std::string>& start,
                          const std::optional<std::string>& rate, int64_t frame);

// Text helpers, exposed for tests.
std::string _html_escape(const std::string& s);
std::string _base64(const std::string& bytes);

}  // namespace qlcore
