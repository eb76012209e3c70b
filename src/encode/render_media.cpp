#include "encode/render_media.h"

#include <cstdio>
#include <optional>

#include "media/opencv_io.h"
#include "media/tools.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

class FfmpegSource : public YuvSource {
  public:
    FfmpegSource(const std::string& path, FrameSize size, const ClipInfo& info)
        : reader_(path, size, info) {}
    const std::string& pix_fmt() const override { return reader_.pix_fmt; }
    bool read(YuvFrame& frame) override { return reader_.read(frame); }
    void close() override { reader_.close(); }
    const std::string& errors() const override { return reader_.errors(); }

  private:
    YUVReader reader_;
};

class FfmpegEncoder : public EncoderSink {
  public:
    explicit FfmpegEncoder(const Args& command)
        : child_(command, {Stdio::Pipe, Stdio::Inherit, Stdio::Pipe}) {}
    bool write(const void* data, size_t n) override { return child_.write_all(data, n); }
    ExitStatus finish(std::string& err) override {
        child_.close_stdin();
        err = child_.read_all_stderr();
        return child_.wait();
    }

  private:
    Child child_;
};

class FfmpegMedia : public RenderMedia {
  public:
    std::string ffmpeg() override { return ffmpeg_bin(); }
    std::unique_ptr<YuvSource> open(const std::string& path, FrameSize size,
                                    const ClipInfo& info) override {
        return std::make_unique<FfmpegSource>(path, size, info);
    }
    std::unique_ptr<EncoderSink> start(const Args& command) override {
        return std::make_unique<FfmpegEncoder>(command);
    }
    ExitStatus run(const Args& command) override { return run_inherit(command); }
    std::string fallback_rate(const std::string& path) override {
        VideoFile video(path);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6f", video.fps());
        return buf;
    }
    // A file cut short holds fewer packets than its index lists; a healthy
    // one whose decoder drops a frame holds them all.
    int64_t packets_present(const std::string& path) override {
        const auto ffprobe = ffprobe_bin();
        if (!ffprobe) return -1;
        RunResult r = run_capture({*ffprobe, "-v", "error", "-select_streams", "v:0",
                                   "-count_packets", "-show_entries", "stream=nb_read_packets",
                                   "-of", "csv=p=0", media_path(path)});
        auto n = r.status == 0 ? parse_int(trim(r.out)) : std::nullopt;
        return n ? *n : -1;
    }
};

}  // namespace

RenderMedia& ffmpeg_media() {
    static FfmpegMedia media;
    return media;
}

}  // namespace qlcore
