#include "clip/marks.h"

#include "clip/report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

// A path over consecutive frames [start, end] with the given box width.
BoxPath _path(int64_t start, int64_t end, float w = 50.0f) {
    BoxPath p;
    for (int64_t f = start; f <= end; ++f)
        p.entries.push_back({f, BoxF{10.0f, 20.0f, w, w}});
    p.start = start;
    p.end = end;
    return p;
}

JudgedTrack _mosaicked(int id, BoxPath path) {
    JudgedTrack t{id, std::move(path), {}};
    t.decision.n_samples = 0;
    return t;
}

JudgedTrack _flagged(int id, BoxPath path, Review review, bool keep) {
    JudgedTrack t{id, std::move(path), {}};
    t.decision.keep = keep;
    t.decision.person = keep ? std::optional<std::string>("Anna") : std::nullopt;
    t.decision.median = 0.35;
    t.decision.review = review;
    t.decision.n_samples = 9;
    return t;
}

json _marks(std::vector<int64_t> frames) {
    return json{{"keep", frames}};
}

}  // namespace

TEST(UserMarks, WidestUnkeptFaceAtTheFrame) {
    std::vector<JudgedTrack> live = {_mosaicked(0, _path(30, 50, 60.0f)),
                                     _mosaicked(1, _path(35, 45, 80.0f)),
                                     _mosaicked(2, _path(41, 60, 200.0f))};
    live[1].decision.review = Review::MosaicBorderline;
    live[1].decision.median = 0.3;
    apply_marks(live, _marks({40}));
    EXPECT_FALSE(live[0].decision.keep);
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_EQ(live[1].decision.person, "(marked by you)");
    EXPECT_FALSE(live[1].decision.review);
    EXPECT_EQ(live[1].decision.median, 0.3) << "other fields unchanged";
    EXPECT_FALSE(live[2].decision.keep) << "no box at frame 40";
    EXPECT_FALSE(marker_entry(live[1])) << "no marker once marked";
}

TEST(UserMarks, TieGoesToTheLargerIdAndMarksApplyInTurn) {
    std::vector<JudgedTrack> live = {_mosaicked(3, _path(0, 20)), _mosaicked(9, _path(0, 20)),
                                     _mosaicked(5, _path(0, 20))};
    apply_marks(live, _marks({10}));
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_FALSE(live[0].decision.keep || live[2].decision.keep);

    // Marks apply in turn: the second sees track 9 kept and takes the next.
    std::vector<JudgedTrack> again = {_mosaicked(3, _path(0, 20)), _mosaicked(9, _path(0, 20)),
                                      _mosaicked(5, _path(0, 20))};
    apply_marks(again, _marks({10, 11}));
    EXPECT_TRUE(again[1].decision.keep && again[2].decision.keep);
    EXPECT_FALSE(again[0].decision.keep);

    // Kept people are not candidates; a frame nobody covers does nothing.
    std::vector<JudgedTrack> kept = {_flagged(1, _path(0, 9, 90.0f), Review::KeptBorderline, true),
                                     _mosaicked(2, _path(0, 9, 10.0f))};
    apply_marks(kept, _marks({5, 500, -3}));
    EXPECT_EQ(kept[0].decision.person, "Anna");
    EXPECT_EQ(kept[0].decision.review, Review::KeptBorderline);
    EXPECT_TRUE(kept[1].decision.keep);

    // No marks at all leave every decision as it was.
    std::vector<JudgedTrack> plain = {_flagged(1, _path(0, 9, 90.0f), Review::KeptBorderline, true),
                                      _mosaicked(2, _path(0, 9, 10.0f))};
    apply_marks(plain, json::object());
    EXPECT_EQ(plain[0].decision.person, "Anna");
    EXPECT_EQ(plain[0].decision.review, Review::KeptBorderline);
    EXPECT_TRUE(plain[0].decision.keep);
    EXPECT_FALSE(plain[1].decision.keep);
    EXPECT_NE(plain[1].decision.person, "(marked by you)");
}
