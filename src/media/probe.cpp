#include "media/probe.h"

#include "media/ffmpeg_commands.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/subprocess.h"

namespace qlcore {

ClipInfo probe(const std::string& path) {
    ClipInfo info;
    if (auto fp = ffprobe_bin()) {
        try {
            RunResult r = run_capture(probe_command(*fp, path));
            if (r.status == 0) {
                parse_probe_json(r.out, info);
                return info;
            }
        } catch (const std::exception&) {
            // Any trouble with ffprobe: the banner below still works.
        }
    }
    RunResult r = run_capture(banner_command(ffmpeg_bin(), path));
    parse_banner(r.err, info);
    return info;
}

}  // namespace qlcore
