// Synthetic clips with known face boxes: face photos cut out once with the
// real detector, moved over calm backgrounds, written with ffmpeg.
#pragma once

#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

// One face cut out of a photo: the picture around it, a soft oval alpha and
// the detector's face box inside the picture.
struct Sprite {
    std::string photo;  // file name in the shared face folder
    cv::Mat bgr;        // CV_8UC3
    cv::Mat alpha;      // CV_32F, 0..1
    cv::Rect2d face;    // in sprite pixels
};

// Cuts the largest face out of each named photo (index = sprite id).
std::vector<Sprite> load_sprites(const std::vector<std::string>& photos,
                                 const fs::path& detector_model);

// Where an actor's face is at a key frame: centre and width in frame pixels.
struct Key {
    int frame;
    double cx, cy, width;
};

// How a face is spoiled for the hard scenes; the default draws it as it is.
// Blur lengths are in face widths, so a look scales with the face.
struct Look {
    double gain = 1.0;      // brightness factor
    double contrast = 1.0;  // contrast about the face's mean colour
    double defocus = 0.0;   // Gaussian sigma
    double motion = 0.0;    // length of a horizontal motion smear
    double tilt = 0.0;      // in-plane rotation about the face centre, degrees
};

// A person in a scene. Between key frames the face moves linearly; before the
// first and after the last key it is not in the picture.
struct Actor {
    int sprite;
    bool kept = false;
    std::vector<Key> keys;
    Look look = {};
};

// Something skin-toned and face-sized that is not a face: an open hand,
// blurred. Key widths are the palm's width.
struct Lure {
    std::vector<Key> keys;
    cv::Scalar bgr = {120, 150, 205};
};

// A calm panel in front of every face (a pillar the faces pass behind).
struct Board {
    cv::Rect rect;
    cv::Scalar bgr;
};

struct Scene {
    std::string name;
    std::string what;  // one line for the table
    int w = 1280, h = 720;
    int frames = 75;
    bool deep = false;  // written as 10-bit
    std::string rate = "25";
    std::vector<Actor> actors;  // later ones are drawn in front
    std::vector<Board> boards;
    std::vector<Lure> lures;  // drawn behind the actors
    unsigned seed = 1;
    // A photograph behind everything instead of the calm background (a file
    // of BACKDROP_DIR), filling the frame and panned across it by `pan`
    // frame widths over the clip: real clutter for false alarms.
    std::string backdrop;
    double pan = 0.0;
    // Or several photographs side by side at about their own scale, three
    // across and two down (files of BACKDROP_DIR): clutter at the detail of
    // real footage rather than enlarged.
    std::vector<std::string> collage;
};

// Debian's opencv-doc photographs and its vtest.avi.
inline const fs::path BACKDROP_DIR = "/usr/share/doc/opencv-doc/examples/data";

// Owner ids of lures start here (actors use their index).
inline constexpr int LURE_ID = 100;

// The ground truth of one face (or lure) in one frame.
struct Truth {
    int actor;  // actor index, or LURE_ID + lure index
    bool kept;
    cv::Rect2d box;  // the face box (may reach outside the frame)
    double visible;  // share of the box that is in the frame and not covered
    bool lure = false;
};

// A calm background and a fixed fine grain laid over every frame. The grain
// is what pixelation visibly removes, so the mosaic can be measured on any
// surface, flat background included.
struct Canvas {
    cv::Mat background;  // CV_8UC3
    cv::Mat grain;       // CV_16SC3
    cv::Mat backdrop;    // CV_8UC3, wider than the frame by the pan; empty without one
};
Canvas make_canvas(const Scene& s);

// Whether a detection box is of the face with box `truth`: its centre lies
// in the face box and its width is 0.3 to 2 times the face's.
bool face_at(const cv::Rect2d& detection, const cv::Rect2d& truth);
// Whether a face lies under a detection box at all: the two overlap by at
// least half of the smaller (a box around a small face, or on part of one).
bool face_under(const cv::Rect2d& detection, const cv::Rect2d& truth);

// Draws frame f and its ground truth. `owner` (optional) gets, per pixel, the
// index of the actor seen there, -1 for background and -2 for a board.
cv::Mat compose(const Scene& s, const std::vector<Sprite>& sprites, const Canvas& canvas, int f,
                std::vector<Truth>& truth, cv::Mat* owner = nullptr);
// The ground truth and owner map of frame f alone, without drawing it.
void ground_truth(const Scene& s, const std::vector<Sprite>& sprites, int f,
                  std::vector<Truth>& truth, cv::Mat& owner);

// Writes the scene as an H.264 clip (8-bit 4:2:0, or 10-bit for deep scenes).
void write_clip(const Scene& s, const std::vector<Sprite>& sprites, const fs::path& out);

// The scenes of the quality table and the speed clips.
std::vector<Scene> quality_scenes();
std::vector<Scene> speed_scenes();
// Scenes that are hard for the default search: dim, blurred, tiny, cut by
// the frame edges and tilted faces, and hands for false alarms.
std::vector<Scene> hard_scenes();
// Hard faces (dim, small, tilted, defocused) in front of cluttered
// photographs: fruit, a room, a building, plants, a baboon, a gym.
std::vector<Scene> clutter_scenes();

}  // namespace bench
