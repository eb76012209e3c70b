#include <cstdint>
#include <string>

#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/step_timer.h"
#include "platform/subprocess.h"

namespace qlcore {
namespace {

uint32_t _big_endian(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = at; i < at + 4; ++i)
        v = v << 8 | static_cast<unsigned char>(b[i]);
    return v;
}

}  // namespace

// Decoding the whole picture would only repeat the header's numbers.
FrameSize png_picture_size(const std::string& png) {
    static const std::string SIGNATURE("\x89PNG\r\n\x1a\n", 8);
    static const std::string END("\0\0\0\0IEND\xae\x42\x60\x82", 12);
    if (png.size() < 24 + END.size() || png.compare(0, 8, SIGNATURE) != 0 ||
        png.compare(12, 4, "IHDR") != 0 ||
        png.compare(png.size() - END.size(), END.size(), END) != 0)
        throw MediaError("could not decode the first frame");
    const uint32_t w = _big_endian(png, 16), h = _big_endian(png, 20);
    // PNG allows up to 2^31 - 1; no frame is anywhere near that.
    if (w == 0 || h == 0 || w > 1u << 20 || h > 1u << 20)
        throw MediaError("could not decode the first frame");
    return {static_cast<int>(w), static_cast<int>(h)};
}

FrameSize frame_size(const std::string& path) {
    RunResult r = run_capture(first_frame_size_command(ffmpeg_bin(), path));
    return png_picture_size(r.out);
}

ProbedClip probe_with_size(const std::string& path) {
    // Its error text is discarded, as frame_size discards it.
    Child first(first_frame_size_command(ffmpeg_bin(), path),
                {Stdio::Null, Stdio::Pipe, Stdio::Null});
    ProbedClip clip;
    clip.info = timed("probe", [&] { return probe(path); });
    // What is left of the first frame's wait once the probe is done.
    StepTimer timer("first-frame size");
    std::string png = first.read_all_stdout();
    first.wait();
    check_interrupted();
    clip.size = png_picture_size(png);
    return clip;
}

}  // namespace qlcore
