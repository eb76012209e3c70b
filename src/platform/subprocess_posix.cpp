#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/subprocess.h"
#include "platform/unique_fd_posix.h"

extern char** environ;

namespace qlcore {

// The header keeps process ids as int, so it needs no system header.
static_assert(sizeof(pid_t) == sizeof(int), "process ids must fit the Child's int");

namespace {

void _close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// A pipe whose both ends are close-on-exec; dup2 in the child clears the flag
// on the copy it makes, so only the intended end reaches the child. Plain
// pipe() and fcntl, as macOS has no pipe2; the program starts its children
// from one thread, so no other spawn can slip in between.
void _make_pipe(int fds[2]) {
    if (::pipe(fds) != 0)
        throw MediaError(std::string("cannot create a pipe: ") + std::strerror(errno));
    for (int i = 0; i < 2; ++i) {
        if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0) {
            const int e = errno;
            _close_fd(fds[0]);
            _close_fd(fds[1]);
            throw MediaError(std::string("cannot create a pipe: ") + std::strerror(e));
        }
    }
}

// Frames of several megabytes cross these pipes: with the default 64 KiB
// each one costs hundreds of wake-ups on both sides. Linux only; where the
// system refuses, the default stays.
constexpr int FRAME_PIPE_BYTES = 1 << 20;

void _widen_pipe(int fd) {
#ifdef F_SETPIPE_SZ
    (void)::fcntl(fd, F_SETPIPE_SZ, FRAME_PIPE_BYTES);
#else
    (void)fd;
#endif
}

// glibc gives an allocation above its mmap threshold pages of its own and
// returns them when freed, and a frame-sized one stays above the threshold
// however often it recurs: at 4K, a decoder writing raw frames spent a third
// of its time faulting in 25 MB a frame. Allocations up to 256 MiB (an 8K
// frame of 16-bit samples is 200 MB) come from the heap instead, and up to
// 1 GiB freed stays there. A GLIBC_TUNABLES of the user's own is left as it
// is.
constexpr const char* FRAME_OUTPUT_TUNABLES =
    "GLIBC_TUNABLES=glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=1073741824";

// The environment for a child: ours, with the tunables for a frame writer.
std::vector<char*> _child_environment(bool frame_output) {
    std::vector<char*> env;
    bool tuned = false;
    for (char** e = environ; *e; ++e) {
        env.push_back(*e);
        if (std::strncmp(*e, "GLIBC_TUNABLES=", 15) == 0) tuned = true;
    }
#if defined(__GLIBC__)
    if (frame_output && !tuned) env.push_back(const_cast<char*>(FRAME_OUTPUT_TUNABLES));
#else
    (void)frame_output;
    (void)tuned;
#endif
    env.push_back(nullptr);
    return env;
}

// Reads what is available into `out`; false at the end of the stream.
bool _drain_once(int fd, std::string& out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            return true;
        }
        if (n == 0) return false;
        if (errno == EINTR) {
            check_interrupted();
            continue;
        }
        return false;
    }
}

// How much early stderr text is kept: its tail, where the last error is.
constexpr size_t ERR_KEEP = 1 << 20;

std::string _read_to_end(int& fd) {
    std::string out;
    if (fd < 0) return out;
    while (_drain_once(fd, out)) {
    }
    _close_fd(fd);
    return out;
}

// A failed posix_spawn_* call, which would start the child with the wrong
// streams or signals, stops the start.
void _check_spawn(int rc, const std::string& program) {
    if (rc != 0) throw MediaError("cannot start " + program + ": " + std::strerror(rc));
}

// The spawn file actions and attributes, destroyed on every way out.
struct FileActions {
    posix_spawn_file_actions_t fa;
    explicit FileActions(const std::string& program) {
        _check_spawn(posix_spawn_file_actions_init(&fa), program);
    }
    ~FileActions() { posix_spawn_file_actions_destroy(&fa); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

struct SpawnAttr {
    posix_spawnattr_t attr;
    explicit SpawnAttr(const std::string& program) {
        _check_spawn(posix_spawnattr_init(&attr), program);
    }
    ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
    SpawnAttr(const SpawnAttr&) = delete;
    SpawnAttr& operator=(const SpawnAttr&) = delete;
};

}  // namespace

Child::Child(const std::vector<std::string>& argv, ChildOptions opts) {
    if (argv.empty()) throw MediaError("cannot start a program: empty command");
    const std::string& program = argv[0];
    // Both ends of each pipe; the child's ends close with their owners here.
    UniqueFd in_p[2], out_p[2], err_p[2];
    FileActions fa(program);
    SpawnAttr attr(program);
    auto wire = [&](Stdio how, int target, UniqueFd p[2], bool child_reads) {
        if (how == Stdio::Pipe) {
            int fds[2];
            _make_pipe(fds);
            p[0] = UniqueFd(fds[0]);
            p[1] = UniqueFd(fds[1]);
            _check_spawn(
                posix_spawn_file_actions_adddup2(&fa.fa, (child_reads ? p[0] : p[1]).get(), target),
                program);
        } else if (how == Stdio::Null) {
            _check_spawn(posix_spawn_file_actions_addopen(&fa.fa, target, "/dev/null",
                                                          child_reads ? O_RDONLY : O_WRONLY, 0),
                         program);
        }
    };
    wire(opts.in, 0, in_p, true);
    wire(opts.out, 1, out_p, false);
    wire(opts.err, 2, err_p, false);
    for (UniqueFd* p : {&in_p[0], &out_p[0]})
        if (p->get() >= 0) _widen_pipe(p->get());

    // Own process group: a Ctrl-C at the terminal reaches only us, and we
    // end the children ourselves. Signals we ignore or catch are reset.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    _check_spawn(posix_spawnattr_setsigmask(&attr.attr, &none), program);
    _check_spawn(posix_spawnattr_setsigdefault(&attr.attr, &defaults), program);
    _check_spawn(posix_spawnattr_setpgroup(&attr.attr, 0), program);
    _check_spawn(
        posix_spawnattr_setflags(
            &attr.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP),
        program);

    std::vector<char*> cargv;
    for (const auto& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    pid_t pid = -1;
    std::vector<char*> env = _child_environment(opts.frame_output);
    int rc = ::posix_spawn(&pid, program.c_str(), &fa.fa, &attr.attr, cargv.data(), env.data());
    pid_ = static_cast<int>(pid);
    if (rc != 0) {
        pid_ = -1;
        _check_spawn(rc, program);
    }
    // Keep our ends.
    in_fd_ = in_p[1].release();
    out_fd_ = out_p[0].release();
    err_fd_ = err_p[0].release();
    // A blocking write into a pipe waits until all of it fits, however long
    // the child is stuck on its stderr; so ours never blocks (the child's
    // end is a separate open file and stays as it was).
    if (in_fd_ >= 0) ::fcntl(in_fd_, F_SETFL, ::fcntl(in_fd_, F_GETFL) | O_NONBLOCK);
}

Child::~Child() {
    close_stdin();
    close_stdout();
    _close_fd(err_fd_);
    if (running()) {
        kill();
        wait();
    }
}

void Child::_await(int fd, short events) {
    for (;;) {
        struct pollfd fds[2] = {{fd, events, 0}, {err_fd_, POLLIN, 0}};
        const nfds_t n = err_fd_ >= 0 ? 2 : 1;
        if (::poll(fds, n, -1) < 0) {
            if (errno != EINTR) return;  // the read or write itself reports it
            check_interrupted();
            continue;
        }
        if (n == 2 && fds[1].revents != 0) {
            if (!_drain_once(err_fd_, err_early_)) _close_fd(err_fd_);
            if (err_early_.size() > ERR_KEEP) err_early_.erase(0, err_early_.size() - ERR_KEEP);
        }
        if (fds[0].revents != 0) return;
    }
}

bool Child::read_exact(void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    size_t got = 0;
    while (got < n) {
        if (out_fd_ < 0) return false;
        if (err_fd_ >= 0) _await(out_fd_, POLLIN);
        ssize_t r = ::read(out_fd_, p + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
        } else if (r == 0) {
            return false;
        } else if (errno == EINTR) {
            check_interrupted();
        } else {
            return false;
        }
    }
    return true;
}

std::string Child::read_all_stdout() {
    return _read_to_end(out_fd_);
}
std::string Child::read_all_stderr() {
    std::string text = std::move(err_early_);
    err_early_.clear();
    return text + _read_to_end(err_fd_);
}

bool Child::write_all(const void* buf, size_t n) {
    // A child that quit must come back as an error value, never as SIGPIPE
    // ending us: ignore it unless whoever runs us chose a handler.
    static const bool sigpipe_safe = [] {
        struct sigaction now {};
        if (sigaction(SIGPIPE, nullptr, &now) == 0 && now.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)sigpipe_safe;
    const auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
        if (in_fd_ < 0) return false;
        ssize_t w = ::write(in_fd_, p + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else if (w < 0 && errno == EINTR) {
            check_interrupted();
        } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            _await(in_fd_, POLLOUT);  // full: wait, emptying stderr meanwhile
        } else {
            return false;  // EPIPE and friends: SIGPIPE is ignored
        }
    }
    return true;
}

void Child::close_stdin() {
    _close_fd(in_fd_);
}
void Child::close_stdout() {
    _close_fd(out_fd_);
}

void Child::kill() {
    if (running()) ::kill(pid_, SIGKILL);
}

ExitStatus Child::wait() {
    if (pid_ <= 0) return status_;
    while (!reaped_) {
        int st = 0;
        pid_t r = ::waitpid(pid_, &st, 0);
        if (r == pid_) {
            reaped_ = true;
            if (WIFEXITED(st)) {
                status_.code = WEXITSTATUS(st);
            } else {
                status_.code = 128 + WTERMSIG(st);  // as a shell reports it
                status_.ended_by = ::strsignal(WTERMSIG(st));
            }
        } else if (r < 0 && errno == EINTR) {
            // Interrupted while waiting: end the child rather than wait for
            // it to finish its work.
            if (interrupt_signal() != 0) ::kill(pid_, SIGKILL);
        } else {
            reaped_ = true;  // not our child any more; nothing to reap
        }
    }
    return status_;
}

void Child::read_both(std::string& out, std::string& err) {
    err += err_early_;
    err_early_.clear();
    while (out_fd_ >= 0 || err_fd_ >= 0) {
        struct pollfd fds[2];
        int* owners[2];
        nfds_t n = 0;
        for (int* fd : {&out_fd_, &err_fd_}) {
            if (*fd < 0) continue;
            fds[n] = {*fd, POLLIN, 0};
            owners[n++] = fd;
        }
        int r = ::poll(fds, n, -1);
        if (r < 0) {
            if (errno == EINTR) {
                check_interrupted();
                continue;
            }
            break;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            std::string& sink = owners[i] == &out_fd_ ? out : err;
            if (!_drain_once(*owners[i], sink)) _close_fd(*owners[i]);
        }
    }
    _close_fd(out_fd_);
    _close_fd(err_fd_);
}

}  // namespace qlcore
