#include "scenes.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <random>
#include <stdexcept>

#include "faces/yunet.h"
#include "media/tools.h"
#include "platform/subprocess.h"
#include "support/test_support.h"

namespace bench {

namespace {

// How much of the photo around the detected face a sprite takes: hair, ears
// and chin, so the detector sees a whole head.
constexpr double CROP_W = 2.0;
constexpr double CROP_H = 2.3;
constexpr double CROP_UP = 0.1;  // crop centre above the face centre, in face heights
constexpr double GRAIN_SIGMA = 4.0;

Sprite _cut(const std::string& name, qlcore::YuNetDetector& det) {
    const cv::Mat photo = cv::imread(qltest::shared_photo(name).string());
    if (photo.empty()) throw std::runtime_error("cannot read " + name);
    const double s = std::min(1.0, 1280.0 / std::max(photo.cols, photo.rows));
    cv::Mat small;
    cv::resize(photo, small, {}, s, s, cv::INTER_AREA);
    det.set_input_size(small.size());
    cv::Mat faces;
    det.detect(small, faces);
    if (faces.rows == 0) throw std::runtime_error("no face in " + name);
    int best = 0;
    for (int i = 1; i < faces.rows; ++i)
        if (faces.at<float>(i, 2) * faces.at<float>(i, 3) >
            faces.at<float>(best, 2) * faces.at<float>(best, 3))
            best = i;
    const cv::Rect2d face(faces.at<float>(best, 0) / s, faces.at<float>(best, 1) / s,
                          faces.at<float>(best, 2) / s, faces.at<float>(best, 3) / s);

    const double cw = face.width * CROP_W, ch = face.height * CROP_H;
    const double cx = face.x + face.width / 2,
                 cy = face.y + face.height / 2 - CROP_UP * face.height;
    const cv::Rect crop(static_cast<int>(std::lround(cx - cw / 2)),
                        static_cast<int>(std::lround(cy - ch / 2)), static_cast<int>(cw),
                        static_cast<int>(ch));
    Sprite sp;
    sp.photo = name;
    // Parts of the crop beyond the photo repeat its edge; the oval hides them.
    cv::copyMakeBorder(photo, sp.bgr, std::max(0, -crop.y),
                       std::max(0, crop.y + crop.height - photo.rows), std::max(0, -crop.x),
                       std::max(0, crop.x + crop.width - photo.cols), cv::BORDER_REPLICATE);
    sp.bgr =
        sp.bgr(cv::Rect(std::max(0, crop.x), std::max(0, crop.y), crop.width, crop.height)).clone();
    sp.face = cv::Rect2d(face.x - crop.x, face.y - crop.y, face.width, face.height);

    cv::Mat oval = cv::Mat::zeros(sp.bgr.size(), CV_32F);
    cv::ellipse(oval, cv::Point(crop.width / 2, crop.height / 2),
                cv::Size(static_cast<int>(crop.width * 0.42), static_cast<int>(crop.height * 0.44)),
                0, 0, 360, cv::Scalar(1.0), cv::FILLED, cv::LINE_AA);
    const int k = (std::max(3, crop.width / 12)) | 1;
    cv::GaussianBlur(oval, sp.alpha, {k, k}, 0);
    return sp;
}

double _lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

// The actor's key at frame f, or nothing outside its keys.
std::optional<Key> _at(const Actor& a, int f) {
    if (a.keys.empty() || f < a.keys.front().frame || f > a.keys.back().frame) return std::nullopt;
    for (size_t i = 0; i + 1 < a.keys.size(); ++i) {
        const Key& k0 = a.keys[i];
        const Key& k1 = a.keys[i + 1];
        if (f >= k0.frame && f <= k1.frame) {
            const double t =
                k1.frame == k0.frame ? 0.0 : double(f - k0.frame) / (k1.frame - k0.frame);
            return Key{f, _lerp(k0.cx, k1.cx, t), _lerp(k0.cy, k1.cy, t),
                       _lerp(k0.width, k1.width, t)};
        }
    }
    return a.keys.back();
}

// Blends `src` with weights `alpha` into `dst` at (x, y), clipped to dst.
// Blends `src` with weights `alpha` into `dst` (when given) at (x, y), and
// marks `owner` where the sprite is mostly opaque; both clipped.
void _blend(cv::Mat* dst, const cv::Mat& src, const cv::Mat& alpha, int x, int y, cv::Mat& owner,
            int id) {
    const cv::Rect r =
        cv::Rect(x, y, alpha.cols, alpha.rows) & cv::Rect(0, 0, owner.cols, owner.rows);
    if (r.empty()) return;
    const cv::Rect s(r.x - x, r.y - y, r.width, r.height);
    const cv::Mat a = alpha(s);
    for (int row = 0; row < r.height; ++row) {
        const float* ap = a.ptr<float>(row);
        signed char* op = owner.ptr<signed char>(r.y + row) + r.x;
        uchar* dp = dst ? dst->ptr<uchar>(r.y + row) + 3 * r.x : nullptr;
        const uchar* spp = dst ? src.ptr<uchar>(s.y + row) + 3 * s.x : nullptr;
        for (int col = 0; col < r.width; ++col) {
            const float w = ap[col];
            if (w <= 0.0f) continue;
            if (dp)
                for (int c = 0; c < 3; ++c) {
                    const float v = w * spp[3 * col + c] + (1.0f - w) * dp[3 * col + c];
                    dp[3 * col + c] = cv::saturate_cast<uchar>(v);
                }
            if (w > 0.5f) op[col] = static_cast<signed char>(id);
        }
    }
}

// Spoils a placed face as its look asks. `centre` is the face centre in
// sprite pixels; `img` is left out when only the ground truth is wanted, but
// the alpha changes the same way either way.
void _spoil(const Look& l, double width, cv::Point2f centre, cv::Mat* img, cv::Mat& alpha) {
    if (l.tilt != 0.0) {
        const cv::Mat m = cv::getRotationMatrix2D(centre, l.tilt, 1.0);
        cv::warpAffine(alpha, alpha, m, alpha.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
        if (img) cv::warpAffine(*img, *img, m, img->size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    }
    const int len = static_cast<int>(std::lround(l.motion * width));
    if (len > 1) {
        const cv::Mat k = cv::Mat::ones(1, len, CV_32F) / len;
        cv::filter2D(alpha, alpha, -1, k, {-1, -1}, 0, cv::BORDER_CONSTANT);
        if (img) cv::filter2D(*img, *img, -1, k, {-1, -1}, 0, cv::BORDER_REPLICATE);
    }
    if (!img) return;
    if (l.gain != 1.0 || l.contrast != 1.0) {
        const cv::Scalar mean = cv::mean(*img, alpha > 0.5f);
        cv::Mat f;
        img->convertTo(f, CV_32FC3);
        f = ((f - mean) * l.contrast + mean) * l.gain;
        f.convertTo(*img, CV_8UC3);
    }
    if (l.defocus > 0.0) cv::GaussianBlur(*img, *img, {0, 0}, l.defocus * width);
}

// An open hand `w` pixels across the palm, centred in its picture: palm,
// four fingers and a thumb, shaded and soft-edged.
void _hand(double w, const cv::Scalar& bgr, cv::Mat* img, cv::Mat& alpha) {
    const int W = std::max(8, static_cast<int>(2 * w)), H = std::max(8, static_cast<int>(2.4 * w));
    cv::Mat mask = cv::Mat::zeros(H, W, CV_8U);
    const auto at = [&](double x, double y) {
        return cv::Point(static_cast<int>(W / 2 + x * w), static_cast<int>(H / 2 + y * w));
    };
    const auto size = [&](double a, double b) {
        return cv::Size(std::max(1, static_cast<int>(a * w)), std::max(1, static_cast<int>(b * w)));
    };
    cv::ellipse(mask, at(0, 0.25), size(0.5, 0.55), 0, 0, 360, 255, cv::FILLED, cv::LINE_AA);
    const double fx[4] = {-0.36, -0.12, 0.12, 0.35}, fl[4] = {0.34, 0.42, 0.40, 0.30};
    for (int i = 0; i < 4; ++i)
        cv::ellipse(mask, at(fx[i], -0.25 - fl[i]), size(0.1, fl[i]), 4.0 * (i - 1.5), 0, 360, 255,
                    cv::FILLED, cv::LINE_AA);
    cv::ellipse(mask, at(-0.58, 0.2), size(0.12, 0.32), -40, 0, 360, 255, cv::FILLED, cv::LINE_AA);
    mask.convertTo(alpha, CV_32F, 1.0 / 255);
    const int k = std::max(3, static_cast<int>(w / 8)) | 1;
    cv::GaussianBlur(alpha, alpha, {k, k}, 0);
    if (!img) return;
    // Lit from the upper left, darker towards the wrist.
    img->create(H, W, CV_8UC3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double shade = 1.1 - 0.3 * (double(y) / H) - 0.15 * (double(x) / W);
            img->at<cv::Vec3b>(y, x) = cv::Vec3b(cv::saturate_cast<uchar>(bgr[0] * shade),
                                                 cv::saturate_cast<uchar>(bgr[1] * shade),
                                                 cv::saturate_cast<uchar>(bgr[2] * shade));
        }
    cv::GaussianBlur(*img, *img, {0, 0}, std::max(0.5, 0.03 * w));
}

Scene _moving(const std::string& name, double k, int frames, bool deep) {
    Scene s;
    s.name = name;
    s.w = static_cast<int>(1280 * k);
    s.h = static_cast<int>(720 * k);
    s.frames = frames;
    s.deep = deep;
    s.what = "two faces moving across and changing size";
    const int e = frames - 1;
    s.actors = {
        {0, false, {{0, 250 * k, 190 * k, 100 * k}, {e, 1000 * k, 250 * k, 180 * k}}},
        {1,
         false,
         {{0, 1050 * k, 520 * k, 170 * k},
          {e / 2, 700 * k, 560 * k, 130 * k},
          {e, 300 * k, 500 * k, 90 * k}}},
    };
    s.seed = 11;
    return s;
}

}  // namespace

std::vector<Sprite> load_sprites(const std::vector<std::string>& photos,
                                 const fs::path& detector_model) {
    qlcore::YuNetDetector det(detector_model.string(), "", {320, 320}, 0.42f, 0.3f, 5000);
    std::vector<Sprite> out;
    for (const std::string& p : photos)
        out.push_back(_cut(p, det));
    return out;
}

bool face_at(const cv::Rect2d& d, const cv::Rect2d& truth) {
    const cv::Point2d c(d.x + d.width / 2, d.y + d.height / 2);
    const double r = d.width / truth.width;
    return truth.contains(c) && r >= 0.3 && r <= 2.0;
}

bool face_under(const cv::Rect2d& d, const cv::Rect2d& truth) {
    return (d & truth).area() >= 0.5 * std::min(d.area(), truth.area());
}

Canvas make_canvas(const Scene& s) {
    Canvas c;
    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    // A soft vertical gradient between two muted colours, with a few large
    // blurred patches: calm, like a wall or a sky.
    const cv::Vec3d top(150 + 60 * u(rng), 140 + 60 * u(rng), 120 + 60 * u(rng));
    const cv::Vec3d bottom(70 + 50 * u(rng), 80 + 50 * u(rng), 70 + 50 * u(rng));
    c.background.create(s.h, s.w, CV_8UC3);
    for (int y = 0; y < s.h; ++y) {
        const cv::Vec3d v = top + (bottom - top) * (double(y) / std::max(1, s.h - 1));
        c.background.row(y).setTo(cv::Scalar(v[0], v[1], v[2]));
    }
    // Drawn and blurred at an eighth of the size: the blur is that wide.
    const int pw = std::max(8, s.w / 8), ph = std::max(8, s.h / 8);
    cv::Mat patches = cv::Mat::zeros(ph, pw, CV_8UC3);
    for (int i = 0; i < 4; ++i) {
        const cv::Point centre(static_cast<int>(u(rng) * pw), static_cast<int>(u(rng) * ph));
        const cv::Size axes(static_cast<int>(pw * (0.1 + 0.15 * u(rng))),
                            static_cast<int>(ph * (0.1 + 0.15 * u(rng))));
        cv::ellipse(patches, centre, axes, 0, 0, 360,
                    cv::Scalar(20 * u(rng), 20 * u(rng), 20 * u(rng)), cv::FILLED);
    }
    const int k = (pw / 8) | 1;
    cv::GaussianBlur(patches, patches, {k, k}, 0);
    cv::resize(patches, patches, {s.w, s.h}, 0, 0, cv::INTER_LINEAR);
    cv::add(c.background, patches, c.background);

    // Covers a w x h picture with `photo`, cropped to its middle.
    const auto cover = [](const std::string& name, int w, int h) {
        const cv::Mat photo = cv::imread((BACKDROP_DIR / name).string());
        if (photo.empty()) throw std::runtime_error("cannot read " + name);
        const double k = std::max(double(w) / photo.cols, double(h) / photo.rows);
        cv::Mat big;
        cv::resize(photo, big, {}, k, k, k < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
        return big(cv::Rect((big.cols - w) / 2, (big.rows - h) / 2, w, h)).clone();
    };
    // A frame widened by the pan.
    const int bw = static_cast<int>(std::ceil(s.w * (1.0 + s.pan)));
    if (!s.backdrop.empty()) c.backdrop = cover(s.backdrop, bw, s.h);
    if (!s.collage.empty()) {
        c.backdrop.create(s.h, bw, CV_8UC3);
        const int cols = 3, rows = 2;
        for (size_t i = 0; i < s.collage.size() && i < cols * rows; ++i) {
            const int c0 = bw * static_cast<int>(i % cols) / cols;
            const int c1 = bw * static_cast<int>(i % cols + 1) / cols;
            const int r0 = s.h * static_cast<int>(i / cols) / rows;
            const int r1 = s.h * static_cast<int>(i / cols + 1) / rows;
            cover(s.collage[i], c1 - c0, r1 - r0)
                .copyTo(c.backdrop(cv::Rect(c0, r0, c1 - c0, r1 - r0)));
        }
    }
    cv::Mat g(s.h, s.w, CV_32F);
    cv::theRNG().state = s.seed;
    cv::randn(g, 0.0, GRAIN_SIGMA);
    cv::Mat g16;
    g.convertTo(g16, CV_16S);
    cv::merge(std::vector<cv::Mat>{g16, g16, g16}, c.grain);
    return c;
}

// Places every actor and board of frame f, drawing into `frame` when given.
void _place(const Scene& s, const std::vector<Sprite>& sprites, int f, std::vector<Truth>& truth,
            cv::Mat& own, cv::Mat* frame) {
    own.create(s.h, s.w, CV_8S);
    own.setTo(cv::Scalar(-1));
    truth.clear();
    for (size_t i = 0; i < s.lures.size(); ++i) {
        const Lure& l = s.lures[i];
        const auto key = _at(Actor{0, false, l.keys}, f);
        if (!key) continue;
        cv::Mat img, alpha;
        _hand(key->width, l.bgr, frame ? &img : nullptr, alpha);
        const int x = static_cast<int>(std::lround(key->cx - alpha.cols / 2.0));
        const int y = static_cast<int>(std::lround(key->cy - alpha.rows / 2.0));
        const int id = LURE_ID + static_cast<int>(i);
        _blend(frame, img, alpha, x, y, own, id);
        const cv::Rect r = cv::boundingRect(alpha > 0.5f);
        truth.push_back({id, false, cv::Rect2d(x + r.x, y + r.y, r.width, r.height), 0.0, true});
    }
    for (size_t i = 0; i < s.actors.size(); ++i) {
        const Actor& a = s.actors[i];
        const auto key = _at(a, f);
        if (!key) continue;
        const Sprite& sp = sprites.at(a.sprite);
        const double scale = key->width / sp.face.width;
        const int nw = std::max(1, static_cast<int>(std::lround(sp.bgr.cols * scale)));
        const int nh = std::max(1, static_cast<int>(std::lround(sp.bgr.rows * scale)));
        const double sx = double(nw) / sp.bgr.cols, sy = double(nh) / sp.bgr.rows;
        const int x = static_cast<int>(std::lround(key->cx - sx * (sp.face.x + sp.face.width / 2)));
        const int y =
            static_cast<int>(std::lround(key->cy - sy * (sp.face.y + sp.face.height / 2)));
        cv::Mat img, alpha;
        if (frame)
            cv::resize(sp.bgr, img, {nw, nh}, 0, 0,
                       scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
        cv::resize(sp.alpha, alpha, {nw, nh}, 0, 0, cv::INTER_LINEAR);
        const cv::Point2f centre(static_cast<float>(sx * (sp.face.x + sp.face.width / 2)),
                                 static_cast<float>(sy * (sp.face.y + sp.face.height / 2)));
        _spoil(a.look, key->width, centre, frame ? &img : nullptr, alpha);
        _blend(frame, img, alpha, x, y, own, static_cast<int>(i));
        truth.push_back({static_cast<int>(i), a.kept,
                         cv::Rect2d(x + sx * sp.face.x, y + sy * sp.face.y, sx * sp.face.width,
                                    sy * sp.face.height),
                         0.0});
    }
    for (const Board& b : s.boards) {
        const cv::Rect r = b.rect & cv::Rect(0, 0, s.w, s.h);
        if (frame) (*frame)(r).setTo(b.bgr);
        own(r).setTo(cv::Scalar(-2));
    }
    for (Truth& t : truth) {
        const cv::Rect r = cv::Rect(t.box) & cv::Rect(0, 0, s.w, s.h);
        const double area = t.box.area();
        t.visible = r.empty() || area <= 0 ? 0.0 : cv::countNonZero(own(r) == t.actor) / area;
    }
}

cv::Mat compose(const Scene& s, const std::vector<Sprite>& sprites, const Canvas& canvas, int f,
                std::vector<Truth>& truth, cv::Mat* owner) {
    cv::Mat frame;
    if (canvas.backdrop.empty())
        frame = canvas.background.clone();
    else {
        const int room = canvas.backdrop.cols - s.w;
        const int x = s.frames > 1 ? static_cast<int>(std::lround(room * f / (s.frames - 1.0))) : 0;
        frame = canvas.backdrop(cv::Rect(x, 0, s.w, s.h)).clone();
    }
    cv::Mat own;
    _place(s, sprites, f, truth, own, &frame);
    cv::Mat grainy;
    cv::add(frame, canvas.grain, grainy, cv::noArray(), CV_16SC3);
    grainy.convertTo(frame, CV_8UC3);
    if (owner) *owner = own;
    return frame;
}

void ground_truth(const Scene& s, const std::vector<Sprite>& sprites, int f,
                  std::vector<Truth>& truth, cv::Mat& owner) {
    _place(s, sprites, f, truth, owner, nullptr);
}

void write_clip(const Scene& s, const std::vector<Sprite>& sprites, const fs::path& out) {
    const Canvas canvas = make_canvas(s);
    const std::string size = std::to_string(s.w) + "x" + std::to_string(s.h);
    std::vector<std::string> cmd = {qlcore::ffmpeg_bin(),
                                    "-hide_banner",
                                    "-loglevel",
                                    "error",
                                    "-y",
                                    "-f",
                                    "rawvideo",
                                    "-pix_fmt",
                                    "bgr24",
                                    "-s",
                                    size,
                                    "-r",
                                    s.rate,
                                    "-i",
                                    "-",
                                    "-vf",
                                    "scale=out_color_matrix=bt709:out_range=tv",
                                    "-c:v",
                                    "libx264",
                                    "-preset",
                                    "veryfast",
                                    "-crf",
                                    "12"};
    if (s.deep)
        cmd.insert(cmd.end(), {"-pix_fmt", "yuv420p10le", "-profile:v", "high10"});
    else
        cmd.insert(cmd.end(), {"-pix_fmt", "yuv420p"});
    cmd.insert(cmd.end(), {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                           "bt709", "-color_range", "tv", out.string()});
    qlcore::Child enc(cmd, {qlcore::Stdio::Pipe, qlcore::Stdio::Inherit, qlcore::Stdio::Inherit});
    std::vector<Truth> truth;
    for (int f = 0; f < s.frames; ++f) {
        const cv::Mat frame = compose(s, sprites, canvas, f, truth);
        if (!enc.write_all(frame.data, frame.total() * frame.elemSize())) break;
    }
    enc.close_stdin();
    if (!enc.wait().success()) throw std::runtime_error("ffmpeg could not write " + out.string());
}

std::vector<Scene> quality_scenes() {
    std::vector<Scene> list;
    list.push_back(_moving("moving", 1.0, 100, false));

    Scene el;
    el.name = "enter_leave";
    el.what = "faces entering and leaving at the frame edges";
    el.frames = 100;
    el.actors = {
        {0, false, {{0, -140, 230, 150}, {99, 1420, 260, 150}}},
        {1, false, {{10, 820, 900, 130}, {55, 800, 470, 130}, {99, 900, -180, 130}}},
    };
    el.seed = 12;
    list.push_back(el);

    Scene hs;
    hs.name = "hidden_short";
    hs.what = "a face passing behind a pillar (hidden for less than 20 frames)";
    hs.frames = 75;
    hs.actors = {{0, false, {{0, 200, 330, 120}, {56, 1100, 330, 120}, {74, 1100, 340, 120}}}};
    hs.boards = {{cv::Rect(560, 0, 200, 720), cv::Scalar(95, 105, 110)}};
    hs.seed = 13;
    list.push_back(hs);

    Scene hl;
    hl.name = "hidden_long";
    hl.what = "a face passing behind a wide pillar (hidden for more than 20 frames)";
    hl.frames = 100;
    hl.actors = {{1, false, {{0, 150, 340, 110}, {99, 1140, 350, 110}}}};
    hl.boards = {{cv::Rect(500, 0, 360, 720), cv::Scalar(90, 100, 105)}};
    hl.seed = 14;
    list.push_back(hl);

    Scene cr;
    cr.name = "crossing";
    cr.what = "two faces crossing, one passing in front of the other";
    cr.frames = 75;
    cr.actors = {
        {1, false, {{0, 1080, 360, 140}, {74, 200, 360, 140}}},
        {0, false, {{0, 200, 330, 150}, {74, 1080, 330, 150}}},
    };
    cr.seed = 15;
    list.push_back(cr);

    Scene kc = cr;
    kc.name = "kept_crossing";
    kc.what = "as crossing, the face in front is an enrolled person kept visible";
    kc.actors[1].kept = true;
    kc.seed = 16;
    list.push_back(kc);

    Scene sm;
    sm.name = "small";
    sm.what = "six small faces (3 % of the frame width) drifting, 1080p";
    sm.w = 1920;
    sm.h = 1080;
    sm.frames = 75;
    for (int i = 0; i < 6; ++i) {
        const double x = 320 + 640 * (i % 3), y = 330 + 420 * (i / 3);
        const double dx = (i % 2 ? 1.0 : -1.0) * 60, dy = (i % 3 - 1) * 30.0;
        sm.actors.push_back({i, false, {{0, x, y, 58}, {74, x + dx, y + dy, 58}}});
    }
    sm.seed = 17;
    list.push_back(sm);

    Scene uhd = _moving("uhd10", 3.0, 50, true);
    uhd.what = "two faces moving and changing size, 3840x2160 10-bit";
    list.push_back(uhd);
    return list;
}

std::vector<Scene> speed_scenes() {
    Scene fhd = _moving("fhd", 1.5, 75, false);
    fhd.what = "two faces moving and changing size, 1920x1080";
    Scene uhd8 = _moving("uhd8", 3.0, 50, false);
    uhd8.what = "two faces moving and changing size, 3840x2160 8-bit";
    // Twenty seconds, for reruns only: what a run costs besides its frames
    // weighs on it as on a short interview clip, not as on three seconds.
    Scene fhd_long = _moving("fhd_long", 1.5, 500, false);
    fhd_long.what = "two faces moving and changing size, 1920x1080, 20 s";
    // Four seconds of 4K 10-bit: the rerun's encoder at its largest.
    Scene uhd10_long = _moving("uhd10_long", 3.0, 100, true);
    uhd10_long.what = "two faces moving and changing size, 3840x2160 10-bit, 4 s";
    return {fhd, uhd8, fhd_long, uhd10_long};
}

std::vector<Scene> hard_scenes() {
    std::vector<Scene> list;

    // An audience in poor light: dark, flat faces of 45-60 px at 640x360.
    Scene dim;
    dim.name = "dim";
    dim.what = "four dark, low-contrast faces 45-60 px wide, two out of focus, 640x360";
    dim.w = 640;
    dim.h = 360;
    dim.frames = 75;
    dim.actors = {
        {0, false, {{0, 110, 110, 60}, {74, 150, 120, 60}}, {0.25, 0.35}},
        {1, false, {{0, 300, 230, 50}, {74, 270, 220, 52}}, {0.18, 0.3}},
        {4, false, {{0, 520, 130, 45}, {74, 500, 150, 45}}, {0.22, 0.3, 0.05}},
        {3, false, {{0, 420, 280, 55}, {74, 440, 270, 55}}, {0.15, 0.3, 0.04}},
    };
    dim.seed = 21;
    list.push_back(dim);

    Scene bl;
    bl.name = "blur";
    bl.what = "two strongly defocused and two motion-blurred faces, 90-110 px";
    bl.frames = 60;
    bl.actors = {
        {0, false, {{0, 250, 220, 110}, {59, 300, 230, 110}}, {1, 1, 0.09}},
        {1, false, {{0, 900, 200, 100}, {59, 860, 220, 100}}, {1, 1, 0.14}},
        {2, false, {{0, 180, 520, 100}, {59, 520, 520, 100}}, {1, 1, 0, 0.5}},
        {3, false, {{0, 1150, 520, 90}, {59, 760, 500, 90}}, {1, 1, 0, 0.8}},
    };
    bl.seed = 22;
    list.push_back(bl);

    Scene ti;
    ti.name = "tiny";
    ti.what = "six faces 12-25 px wide, 640x360";
    ti.w = 640;
    ti.h = 360;
    ti.frames = 60;
    const double tw[6] = {12, 14, 17, 20, 22, 25};
    for (int i = 0; i < 6; ++i) {
        const double x = 110 + 210 * (i % 3), y = 110 + 140 * (i / 3);
        ti.actors.push_back(
            {i, false, {{0, x, y, tw[i]}, {59, x + (i % 2 ? 20.0 : -20.0), y + 8, tw[i]}}});
    }
    ti.seed = 23;
    list.push_back(ti);

    // Expensive to search and to render: a few frames only.
    Scene tu;
    tu.name = "tiny_uhd";
    tu.what = "six faces 20-40 px wide, 3840x2160";
    tu.w = 3840;
    tu.h = 2160;
    tu.frames = 16;
    const double uw[6] = {20, 24, 28, 32, 36, 40};
    for (int i = 0; i < 6; ++i) {
        const double x = 640 + 1280 * (i % 3), y = 700 + 800 * (i / 3);
        tu.actors.push_back({i, false, {{0, x, y, uw[i]}, {15, x + 30, y + 10, uw[i]}}});
    }
    tu.seed = 24;
    list.push_back(tu);

    // Each face slides from about a third to about two thirds in the frame.
    Scene ed;
    ed.name = "edges";
    ed.what = "four faces cut by the left, right, top and bottom edges";
    ed.frames = 80;
    ed.actors = {
        {0, false, {{0, -25, 250, 130}, {40, 20, 260, 130}, {79, -25, 250, 130}}},
        {1, false, {{0, 1305, 470, 130}, {40, 1260, 460, 130}, {79, 1305, 470, 130}}},
        {2, false, {{0, 640, -30, 120}, {40, 660, 15, 120}, {79, 640, -30, 120}}},
        {3, false, {{0, 420, 745, 120}, {40, 430, 700, 120}, {79, 420, 745, 120}}},
    };
    ed.seed = 25;
    list.push_back(ed);

    Scene tl;
    tl.name = "tilted";
    tl.what = "six faces tilted 50, -65, 80, 95, -110 and 135 degrees, 100-120 px";
    tl.frames = 60;
    tl.actors = {
        {0, false, {{0, 200, 200, 120}, {59, 240, 210, 120}}, {1, 1, 0, 0, 50}},
        {1, false, {{0, 640, 200, 110}, {59, 610, 210, 110}}, {1, 1, 0, 0, -65}},
        {2, false, {{0, 1080, 200, 100}, {59, 1100, 190, 100}}, {1, 1, 0, 0, 80}},
        {3, false, {{0, 200, 530, 110}, {59, 240, 520, 110}}, {1, 1, 0, 0, 95}},
        {4, false, {{0, 640, 530, 110}, {59, 660, 540, 110}}, {1, 1, 0, 0, -110}},
        {5, false, {{0, 1080, 530, 100}, {59, 1050, 520, 100}}, {1, 1, 0, 0, 135}},
    };
    tl.seed = 26;
    list.push_back(tl);

    // Hands waved around a face: any mosaic on them is a false alarm.
    Scene hd;
    hd.name = "hands";
    hd.what = "three skin-toned open hands (70-120 px) beside one face";
    hd.frames = 60;
    hd.actors = {{5, false, {{0, 640, 330, 110}, {59, 660, 340, 110}}}};
    hd.lures = {
        {{{0, 250, 300, 100}, {30, 330, 250, 100}, {59, 260, 320, 100}}, {110, 145, 200}},
        {{{0, 1000, 260, 120}, {30, 1050, 330, 120}, {59, 980, 280, 120}}, {95, 125, 180}},
        {{{0, 900, 580, 70}, {59, 1050, 560, 70}}, {130, 165, 215}},
    };
    hd.seed = 27;
    list.push_back(hd);
    return list;
}

std::vector<Scene> clutter_scenes() {
    // 640x360 and short: the thorough search of a cluttered frame is slow.
    const auto scene = [](const std::string& name, const std::string& photo,
                          const std::string& what, unsigned seed) {
        Scene s;
        s.name = name;
        s.what = what;
        s.w = 640;
        s.h = 360;
        s.frames = 40;
        s.backdrop = photo;
        s.pan = 0.15;
        s.seed = seed;
        return s;
    };
    std::vector<Scene> list;
    Scene fr = scene("fruits", "fruits.jpg", "a bowl of fruit; a dim face and a small one", 31);
    fr.actors = {
        {0, false, {{0, 120, 110, 56}, {39, 150, 120, 56}}, {0.3, 0.4}},
        {1, false, {{0, 500, 250, 30}, {39, 480, 240, 30}}},
    };
    list.push_back(fr);

    Scene ho =
        scene("home", "home.jpg", "a room; a face tilted 60 degrees and a defocused one", 32);
    ho.actors = {
        {2, false, {{0, 200, 180, 70}, {39, 230, 190, 70}}, {1, 1, 0, 0, 60}},
        {3, false, {{0, 470, 160, 64}, {39, 450, 170, 64}}, {1, 1, 0.08}},
    };
    list.push_back(ho);

    Scene bu =
        scene("building", "building.jpg", "a building's windows; two small faces, one dim", 33);
    bu.actors = {
        {4, false, {{0, 160, 280, 26}, {39, 190, 275, 26}}},
        {5, false, {{0, 460, 300, 34}, {39, 440, 300, 34}}, {0.35, 0.5}},
    };
    list.push_back(bu);

    Scene al =
        scene("plants", "aloeL.jpg", "potted plants; a dim, defocused face and a tilted one", 34);
    al.actors = {
        {1, false, {{0, 170, 150, 60}, {39, 190, 160, 60}}, {0.35, 0.5, 0.04}},
        {0, false, {{0, 450, 210, 66}, {39, 470, 200, 66}}, {1, 1, 0, 0, -40}},
    };
    list.push_back(al);

    Scene ba =
        scene("baboon", "baboon.jpg", "a baboon's face filling the frame; one small face", 35);
    ba.actors = {{2, false, {{0, 560, 300, 40}, {39, 540, 295, 40}}, {0.6, 0.7}}};
    list.push_back(ba);

    Scene gy = scene("gym", "basketball1.png", "a gym with players far off; a dim face", 36);
    gy.actors = {{3, false, {{0, 480, 120, 50}, {39, 500, 130, 50}}, {0.3, 0.4, 0.03}}};
    list.push_back(gy);

    // 1280x720, the photographs at about their own scale.
    Scene ca =
        scene("collage_room", "", "fruit, a room, a building, plants, a gym, a desk; 1280x720", 37);
    ca.w = 1280;
    ca.h = 720;
    ca.pan = 0.1;
    ca.collage = {"fruits.jpg", "home.jpg",        "building.jpg",
                  "aloeL.jpg",  "basketball1.png", "box_in_scene.png"};
    ca.actors = {
        {0, false, {{0, 300, 200, 60}, {39, 330, 210, 60}}, {0.3, 0.4}},
        {1, false, {{0, 900, 250, 40}, {39, 880, 240, 40}}},
        {2, false, {{0, 640, 520, 110}, {39, 660, 530, 110}}, {1, 1, 0, 0, 50}},
        {3, false, {{0, 1100, 560, 90}, {39, 1080, 550, 90}}, {1, 1, 0.08}},
    };
    list.push_back(ca);

    Scene cb =
        scene("collage_street", "",
              "a street, graffiti, a board game, an orange, a butterfly, a painting; 1280x720", 38);
    cb.w = 1280;
    cb.h = 720;
    cb.pan = 0.1;
    cb.collage = {"leuvenA.jpg", "graf1.png",     "board.jpg",
                  "orange.jpg",  "butterfly.jpg", "starry_night.jpg"};
    cb.actors = {
        {4, false, {{0, 200, 500, 50}, {39, 230, 510, 50}}, {0.25, 0.35}},
        {5, false, {{0, 700, 150, 30}, {39, 720, 160, 30}}},
        {0, false, {{0, 1000, 420, 100}, {39, 980, 430, 100}}, {0.6, 0.7, 0, 0, -40}},
    };
    list.push_back(cb);
    return list;
}

}  // namespace bench
