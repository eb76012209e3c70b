#include "platform/subprocess.h"
#include "platform/interrupt.h"

namespace qlcore {

RunResult run_capture(const std::vector<std::string>& argv) {
    Child c(argv, {Stdio::Null, Stdio::Pipe, Stdio::Pipe});
    RunResult res;
    c.read_both(res.out, res.err);
    ExitStatus st = c.wait();
    res.status = st.code;
    res.ended_by = std::move(st.ended_by);
    check_interrupted();
    return res;
}

ExitStatus run_inherit(const std::vector<std::string>& argv) {
    // Stdin stays the null device: an ffmpeg reading the terminal would take
    // keystrokes as commands, and from its own process group it would be
    // stopped for touching the terminal.
    Child c(argv, {Stdio::Null, Stdio::Inherit, Stdio::Inherit});
    ExitStatus st = c.wait();
    check_interrupted();
    return st;
}

}  // namespace qlcore
