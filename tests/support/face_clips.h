// Clips of real faces for end-to-end runs, and the real detector run over a
// clip's frames to tell whether any face is still visible.
//
// The clips show crops of the shared photos (a head and shoulders about
// 80 x 110 pixels at the default size) on a plain background, so every face
// the detector finds in a source frame is one the test put there; or on a
// picture (a backdrop) whose clutter the detector may take for faces.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qltest {

namespace fs = std::filesystem;

// The people the clips are made of; each names a photo in testdata/faces.
inline constexpr const char* OBAMA_PHOTO = "obama-720p.jpg";
inline constexpr const char* BIDEN_PHOTO = "biden.jpg";

struct FaceClipSpec {
    int width = 480;
    int height = 270;
    std::string rate = "25";
    int frames = 30;
    std::string codec = "libx264";
    std::string pix_fmt = "yuv420p";
    bool audio = true;
    std::string timecode = "01:00:00:00";  // empty: none
    std::vector<std::string> extra;        // more output options before the path
    std::string look;                      // filters for each face patch (to dim it, say)
    fs::path backdrop;  // a picture behind the faces, scaled to the frame; empty: a plain one
};

// One face sliding from the left third to the right third of the frame.
fs::path make_moving_face_clip(const fs::path& out, const FaceClipSpec& spec = {},
                               const std::string& photo = OBAMA_PHOTO);

// Two people side by side, swaying a little: `left` on the left half.
fs::path make_two_people_clip(const fs::path& out, const FaceClipSpec& spec = {},
                              const std::string& left = OBAMA_PHOTO,
                              const std::string& right = BIDEN_PHOTO);

// A face that walks in from beyond the left edge and out beyond the right:
// the first and last frames show nobody.
fs::path make_passing_face_clip(const fs::path& out, const FaceClipSpec& spec = {},
                                const std::string& photo = OBAMA_PHOTO);

// One detected face in frame pixels.
struct SeenFace {
    float x = 0, y = 0, w = 0, h = 0;
    float score = 0;
};

// Runs the real detector over every decoded frame of `clip` (at its own
// size) and returns what it finds per frame, faces scoring at least
// `min_score` only.
std::vector<std::vector<SeenFace>> faces_per_frame(const fs::path& clip, float min_score);

// Frames (0-based) with at least one face.
std::vector<int> frames_with_faces(const std::vector<std::vector<SeenFace>>& seen);

}  // namespace qltest
