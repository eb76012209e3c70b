#include "media/console.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "platform/clock.h"

namespace qlcore {

void log(const std::string& msg) {
    std::fwrite(msg.data(), 1, msg.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string progress_text(const std::string& label, long long i, long long total, double el) {
    double fps = el > 0 ? static_cast<double>(i) / el : 0.0;
    char buf[256];
    if (total > 0) {
        double pct = std::min(100.0, 100.0 * static_cast<double>(i) / static_cast<double>(total));
        double eta = fps > 0 ? static_cast<double>(total - i) / fps : 0.0;
        double minutes = std::floor(eta / 60.0);
        double seconds = std::floor(eta - 60.0 * minutes);
        std::snprintf(buf, sizeof buf,
                      "%5.1f%%  (%lld/%lld frames, %4.1f fps, ~%.0fm%02.0fs left)   ", pct, i,
                      total, fps, minutes, seconds);
    } else {
        std::snprintf(buf, sizeof buf, "%lld frames (%4.1f fps)   ", i, fps);
    }
    return "\r  " + label + ": " + buf;
}

void progress(const std::string& label, long long i, long long total, double t0) {
    std::string s = progress_text(label, i, total, now_seconds() - t0);
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}

}  // namespace qlcore
