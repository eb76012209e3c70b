#include <windows.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/subprocess.h"
#include "platform/win32.h"

namespace qlcore {
namespace {

// How much stderr text is kept: its tail, where the last error is.
constexpr size_t ERR_KEEP = 1 << 20;
// Frames of several megabytes cross the pipes; a larger buffer saves wake-ups.
constexpr DWORD FRAME_PIPE_BYTES = 1 << 20;

// A handle its owner closes on every way out.
struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h = std::exchange(o.h, nullptr);
        }
        return *this;
    }
    HANDLE release() { return std::exchange(h, nullptr); }
    void reset() {
        if (h) ::CloseHandle(h);
        h = nullptr;
    }
};

void _close(void*& h) {
    if (h) ::CloseHandle(static_cast<HANDLE>(h));
    h = nullptr;
}

// The job every child is put into: closing its last handle, which the
// system does when this process ends however it ends, ends every child, so
// no ffmpeg outlives the program.
HANDLE _job() {
    static HANDLE job = [] {
        HANDLE j = ::CreateJobObjectW(nullptr, nullptr);
        if (j) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
            info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            ::SetInformationJobObject(j, JobObjectExtendedLimitInformation, &info, sizeof info);
        }
        return j;
    }();
    return job;
}

// The Windows rules for one argument as the C runtime splits a command line:
// quotes around anything with a space, tab or quote; backslashes doubled
// only before a quote.
void _append_quoted(std::wstring& cmd, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        cmd += arg;
        return;
    }
    cmd.push_back(L'"');
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < arg.size() && arg[i] == L'\\') {
            ++i;
            ++slashes;
        }
        if (i == arg.size()) {
            cmd.append(slashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"') {
            cmd.append(slashes * 2 + 1, L'\\');
        } else {
            cmd.append(slashes, L'\\');
        }
        cmd.push_back(arg[i]);
    }
    cmd.push_back(L'"');
}

// A child end: inheritable, so CreateProcess can hand it over.
HANDLE _inheritable_copy(HANDLE h) {
    HANDLE copy = nullptr;
    if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

HANDLE _null_device(bool child_reads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return ::CreateFileW(L"NUL", child_reads ? GENERIC_READ : GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
}

// Children the job could not take (Windows 7 puts a program started from
// inside another job where a second one cannot be added): ended one by one.
std::mutex g_loose_mu;
std::vector<HANDLE> g_loose;

void _forget_loose(HANDLE process) {
    std::lock_guard<std::mutex> lock(g_loose_mu);
    g_loose.erase(std::remove(g_loose.begin(), g_loose.end(), process), g_loose.end());
}

// The attribute list that hands a child exactly its three standard handles,
// where a plain start would hand it every inheritable handle of this
// process (another child's pipe end among them, keeping that pipe open).
struct HandleList {
    std::vector<HANDLE> handles;
    std::vector<char> storage;
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;

    explicit HandleList(std::initializer_list<HANDLE> hs) {
        for (HANDLE h : hs)
            if (h && std::find(handles.begin(), handles.end(), h) == handles.end())
                handles.push_back(h);
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage.resize(size);
        auto* l = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        if (!::InitializeProcThreadAttributeList(l, 1, 0, &size)) return;
        if (!::UpdateProcThreadAttribute(l, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                         handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(l);
            return;
        }
        list = l;
    }
    ~HandleList() {
        if (list) ::DeleteProcThreadAttributeList(list);
    }
    HandleList(const HandleList&) = delete;
    HandleList& operator=(const HandleList&) = delete;
};

}  // namespace

void end_all_children() {
    if (HANDLE job = _job()) ::TerminateJobObject(job, 1);
    std::lock_guard<std::mutex> lock(g_loose_mu);
    for (HANDLE process : g_loose)
        ::TerminateProcess(process, 1);
}

// Reads a piped stderr to its end on a thread of its own, so a child with
// much to complain about never stalls on a full pipe while we write its
// stdin or read its stdout.
struct Child::ErrDrain {
    std::mutex mu;
    std::string text;
    std::thread thread;

    explicit ErrDrain(HANDLE pipe) {
        thread = std::thread([this, pipe] {
            char buf[65536];
            DWORD n = 0;
            while (::ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
                std::lock_guard<std::mutex> lock(mu);
                text.append(buf, n);
                if (text.size() > 2 * ERR_KEEP) text.erase(0, text.size() - ERR_KEEP);
            }
        });
    }
};

Child::Child(const std::vector<std::string>& argv, ChildOptions opts) {
    if (argv.empty()) throw MediaError("cannot start a program: empty command");
    const std::string& program = argv[0];
    auto fail = [&](DWORD error) {
        throw MediaError("cannot start " + program + ": " + windows_error_text(error));
    };

    // Each stream: the child's end (inheritable, closed here after the start)
    // and ours (not inheritable, so no later child holds it open).
    Handle child_end[3], our_end[3];
    const Stdio how[3] = {opts.in, opts.out, opts.err};
    const DWORD std_ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        const bool child_reads = i == 0;
        if (how[i] == Stdio::Pipe) {
            SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
            HANDLE r = nullptr, w = nullptr;
            if (!::CreatePipe(&r, &w, &sa, i == 2 ? 0 : FRAME_PIPE_BYTES)) fail(::GetLastError());
            Handle read_end(r), write_end(w);
            child_end[i] = child_reads ? std::move(read_end) : std::move(write_end);
            our_end[i] = child_reads ? std::move(write_end) : std::move(read_end);
            ::SetHandleInformation(our_end[i].h, HANDLE_FLAG_INHERIT, 0);
        } else if (how[i] == Stdio::Inherit) {
            child_end[i] = Handle(_inheritable_copy(::GetStdHandle(std_ids[i])));
        }
        if (!child_end[i].h) child_end[i] = Handle(_null_device(child_reads));
    }

    std::wstring cmd;
    for (const std::string& a : argv) {
        if (!cmd.empty()) cmd.push_back(L' ');
        _append_quoted(cmd, widen(a));
    }
    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = child_end[0].h;
    si.StartupInfo.hStdOutput = child_end[1].h;
    si.StartupInfo.hStdError = child_end[2].h;
    const HandleList inherit{child_end[0].h, child_end[1].h, child_end[2].h};
    si.lpAttributeList = inherit.list;
    PROCESS_INFORMATION pi{};
    // Its own process group: a Ctrl-C at the console reaches only us, and we
    // end the children ourselves. Suspended until it is in the job.
    DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT;
    if (inherit.list) flags |= EXTENDED_STARTUPINFO_PRESENT;
    bool started = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                    nullptr, &si.StartupInfo, &pi);
    // Windows 7 refuses the list when a standard handle is a console's.
    if (!started && inherit.list && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        si.StartupInfo.cb = sizeof si.StartupInfo;
        started = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE,
                                   flags & ~EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                   &si.StartupInfo, &pi);
    }
    if (!started) fail(::GetLastError());
    Handle thread(pi.hThread);
    process_ = pi.hProcess;
    pid_ = static_cast<int>(pi.dwProcessId);
    HANDLE job = _job();
    if (!job || !::AssignProcessToJobObject(job, pi.hProcess)) {
        std::lock_guard<std::mutex> lock(g_loose_mu);
        g_loose.push_back(pi.hProcess);
        loose_ = true;
    }
    // A Ctrl-C that came while the child was being made found nothing to
    // end: it is ended here, before it ever runs.
    if (interrupt_signal() != 0) {
        ::TerminateProcess(pi.hProcess, 1);
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        if (loose_) _forget_loose(pi.hProcess);
        _close(process_);
        pid_ = -1;
        check_interrupted();
    }
    ::ResumeThread(pi.hThread);
    in_ = our_end[0].release();
    out_ = our_end[1].release();
    err_ = our_end[2].release();
    if (err_) drain_ = std::make_unique<ErrDrain>(static_cast<HANDLE>(err_));
}

Child::~Child() {
    close_stdin();
    close_stdout();
    if (running()) {
        kill();
        wait();
    }
    _join_drain();
    if (loose_) _forget_loose(static_cast<HANDLE>(process_));
    _close(process_);
}

void Child::_join_drain() {
    if (!drain_) return;
    drain_->thread.join();  // the child's end closed: the thread is at the end
    err_early_ += drain_->text;
    drain_.reset();
    _close(err_);
}

bool Child::read_exact(void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    size_t got = 0;
    while (got < n) {
        if (!out_) return false;
        DWORD r = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n - got, 1u << 30));
        if (!::ReadFile(static_cast<HANDLE>(out_), p + got, want, &r, nullptr) || r == 0) {
            check_interrupted();  // a Ctrl-C ends the children, which ends the read
            return false;
        }
        got += r;
    }
    return true;
}

std::string Child::read_all_stdout() {
    std::string out;
    char buf[65536];
    DWORD n = 0;
    while (out_ && ::ReadFile(static_cast<HANDLE>(out_), buf, sizeof buf, &n, nullptr) && n > 0)
        out.append(buf, n);
    _close(out_);
    check_interrupted();
    return out;
}

std::string Child::read_all_stderr() {
    _join_drain();
    std::string text = std::move(err_early_);
    err_early_.clear();
    return text;
}

void Child::read_both(std::string& out, std::string& err) {
    out += read_all_stdout();
    err += read_all_stderr();
}

bool Child::write_all(const void* buf, size_t n) {
    const auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
        if (!in_) return false;
        DWORD w = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
        if (!::WriteFile(static_cast<HANDLE>(in_), p + done, want, &w, nullptr)) {
            check_interrupted();
            return false;  // the child quit or closed its end
        }
        done += w;
    }
    return true;
}

void Child::close_stdin() {
    _close(in_);
}
void Child::close_stdout() {
    _close(out_);
}

void Child::kill() {
    if (!running()) return;
    killed_ = true;
    ::TerminateProcess(static_cast<HANDLE>(process_), 1);
}

ExitStatus Child::wait() {
    if (pid_ <= 0 || reaped_) return status_;
    ::WaitForSingleObject(static_cast<HANDLE>(process_), INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
    reaped_ = true;
    status_.code = static_cast<int>(code);
    if (killed_)
        status_.ended_by = "Killed";
    else
        status_.ended_by = windows_exit_description(code);
    return status_;
}

}  // namespace qlcore
