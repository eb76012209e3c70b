#include "runs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace bench {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace {

// Waits for pid however often a signal interrupts the wait.
int _wait(pid_t pid, int* status, rusage* ru) {
    for (;;) {
        const pid_t r = wait4(pid, status, 0, ru);
        if (r >= 0 || errno != EINTR) return r;
    }
}

}  // namespace

Measured run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const fs::path& log) {
    // A helper process runs the program, so the largest peak among the
    // program and its ffmpeg children (RUSAGE_CHILDREN) belongs to this run
    // alone; the helper reports it through a pipe.
    // Everything the children need is made before forking: only calls that
    // are safe in a child of a threaded process happen after it.
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        const std::string item = *e;
        const std::string name = item.substr(0, item.find('='));
        bool replaced = false;
        for (const std::string& x : env)
            replaced = replaced || x.substr(0, x.find('=')) == name;
        if (!replaced) env_text.push_back(item);
    }
    env_text.insert(env_text.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (std::string& e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string log_path = log.string();

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const double t0 = now();
    const pid_t helper = fork();
    if (helper < 0) throw std::runtime_error("fork failed");
    if (helper == 0) {
        ::close(fds[0]);
        const pid_t pid = fork();
        if (pid == 0) {
            const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        int status = 0;
        rusage self{};
        _wait(pid, &status, &self);
        rusage all{};
        getrusage(RUSAGE_CHILDREN, &all);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        long msg[3] = {code, self.ru_maxrss, all.ru_maxrss};
        if (::write(fds[1], msg, sizeof msg) != static_cast<ssize_t>(sizeof msg)) _exit(1);
        _exit(0);
    }
    ::close(fds[1]);
    long msg[3] = {-1, 0, 0};
    const ssize_t got = ::read(fds[0], msg, sizeof msg);
    ::close(fds[0]);
    int status = 0;
    _wait(helper, &status, nullptr);
    Measured m;
    m.seconds = now() - t0;
    if (got == static_cast<ssize_t>(sizeof msg)) {
        m.status = static_cast<int>(msg[0]);
        m.self_kib = msg[1];
        m.child_kib = msg[2];
    }
    m.steps = logged_steps(log, &m.own_kib);
    return m;
}

std::map<std::string, double> logged_steps(const fs::path& log, long* peak_kib) {
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, double> steps;
    // Progress lines end in a carriage return, so a timing line may follow
    // one on the same line of the log: look for the tag anywhere.
    const std::string tag = "qlcore timing: ";
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1)) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at + tag.size(), end - at - tag.size());
        const size_t space = line.rfind(' ');
        if (space == std::string::npos) continue;
        steps[line.substr(0, space)] += std::strtod(line.c_str() + space + 1, nullptr);
    }
    if (peak_kib) {
        *peak_kib = 0;
        const size_t at = text.rfind("qlcore peak memory: ");
        if (at != std::string::npos) *peak_kib = std::strtol(text.c_str() + at + 20, nullptr, 10);
    }
    return steps;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void write_job(const fs::path& job, const fs::path& clip, const fs::path& out_dir,
               const std::string& keep, const std::string& codec) {
    fs::create_directories(job);
    std::ofstream(job / "clips.txt") << clip.string() << "\t" << out_dir.string() << "\n";
    if (!keep.empty()) std::ofstream(job / "keep.txt") << keep << "\n";
    std::ofstream opts(job / "options.txt");
    opts << "codec=" << codec << "\n";
    if (!keep.empty()) opts << "threshold=0.9\n";
}

}  // namespace bench
