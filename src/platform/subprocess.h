// Child processes started from an argument vector, never through a shell.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace qlcore {

// What each standard stream of a child is connected to.
enum class Stdio { Pipe, Inherit, Null };

// How a child ended.
struct ExitStatus {
    // The exit code; for a child the system ended (a POSIX signal, a Windows
    // crash) the shell's number for it: 128 + the signal on POSIX, the
    // exception code on Windows.
    int code = -1;
    // What ended a child that did not exit by itself ("Killed",
    // "Segmentation fault", "exception 0xC0000005"); empty when it exited.
    std::string ended_by;

    bool success() const { return code == 0 && ended_by.empty(); }
};

struct ChildOptions {
    Stdio in = Stdio::Null;
    Stdio out = Stdio::Pipe;
    Stdio err = Stdio::Inherit;
    // The child writes frames of megabytes, each from a buffer it allocates
    // and frees (ffmpeg's raw video output). Where the C library would hand
    // every such buffer back to the system, to be faulted in afresh for the
    // next frame, the child is told to keep freed memory for reuse.
    bool frame_output = false;
};

// A running child. Destroying it kills and reaps a child that was not waited
// for, so no path out of a function leaves a child behind. Pipe ends held here
// are close-on-exec, so a second child never inherits them.
class Child {
  public:
    // Throws MediaError ("cannot start <program>: <reason>") when the program
    // cannot be started.
    Child(const std::vector<std::string>& argv, ChildOptions opts);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads exactly n bytes from stdout. Returns false at the end of the
    // stream; a short tail counts as the end and is dropped.
    bool read_exact(void* buf, size_t n);

    // Reads stdout (or stderr) to its end. Stderr text that read_exact or
    // write_all took in while they waited comes first.
    std::string read_all_stdout();
    std::string read_all_stderr();

    // Reads stdout and stderr to their ends together, so neither pipe can
    // fill up and stall the child.
    void read_both(std::string& out, std::string& err);

    // Writes every byte to stdin. Returns false when the child no longer
    // takes input (it exited or closed its end); never raises SIGPIPE.
    // Both this and read_exact drain a piped stderr while they wait, so a
    // child with much to complain about cannot stall on a full pipe.
    bool write_all(const void* buf, size_t n);

    void close_stdin();
    void close_stdout();

    // Ends the child at once; harmless when it already ended.
    void kill();

    // Waits for the child and returns how it ended. Later calls return the
    // same value.
    ExitStatus wait();

    bool running() const { return pid_ > 0 && !reaped_; }
    int pid() const { return pid_; }  // the process id, -1 before a start

  private:
    int pid_ = -1;
    bool reaped_ = false;
    ExitStatus status_;
    std::string err_early_;  // stderr drained while waiting on the other pipes
#if defined(_WIN32)
    // Handles as the system's void*; null when absent or closed. A thread
    // drains a piped stderr, as anonymous pipes cannot be polled.
    void* process_ = nullptr;
    void* in_ = nullptr;
    void* out_ = nullptr;
    void* err_ = nullptr;
    struct ErrDrain;
    std::unique_ptr<ErrDrain> drain_;
    bool killed_ = false;
    bool loose_ = false;  // outside the job: ended on its own at a Ctrl-C
    void _join_drain();
#else
    // Our ends of the pipes; -1 when not piped or already closed.
    int in_fd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;

    // Waits until `fd` is ready for `events`, draining stderr meanwhile.
    void _await(int fd, short events);
#endif
};

struct RunResult {
    int status = -1;       // ExitStatus::code
    std::string ended_by;  // ExitStatus::ended_by
    std::string out;
    std::string err;
};

// Runs a child to completion with stdout and stderr captured, draining both
// at once so neither can fill up and stall the child. Stdin is the null device.
RunResult run_capture(const std::vector<std::string>& argv);

// Runs a child with every stream inherited and returns how it ended.
ExitStatus run_inherit(const std::vector<std::string>& argv);

}  // namespace qlcore
