// Shared by the pipeline benchmarks: heap-allocation counting and timing.
// Include it in exactly one file of a benchmark program: it replaces malloc
// and friends for the whole program.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "support/face_clips.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocs{0};
inline void _note() {
    if (g_counting.load(std::memory_order_relaxed))
        g_allocs.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* malloc(size_t n) noexcept {
    _note();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t s) noexcept {
    _note();
    return __libc_calloc(n, s);
}
void* realloc(void* p, size_t n) noexcept {
    _note();
    return __libc_realloc(p, n);
}
void* memalign(size_t a, size_t n) noexcept {
    _note();
    return __libc_memalign(a, n);
}
void* aligned_alloc(size_t a, size_t n) noexcept {
    _note();
    return __libc_memalign(a, n);
}
int posix_memalign(void** out, size_t a, size_t n) noexcept {
    _note();
    void* p = __libc_memalign(a, n);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
}

namespace {

// The passes' progress lines would clutter the figures: they go to /dev/null.
class QuietStdout {
  public:
    QuietStdout() : saved_(::dup(1)) {
        std::fflush(stdout);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

  private:
    int saved_;
};

double now_s() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The benchmarks' 1080p clip of two people: no audio, no timecode, quick to make.
inline qltest::FaceClipSpec fhd_clip_spec(int frames) {
    qltest::FaceClipSpec spec;
    spec.width = 1920;
    spec.height = 1080;
    spec.audio = false;
    spec.timecode = "";
    spec.extra = {"-preset", "veryfast"};
    spec.frames = frames;
    return spec;
}

}  // namespace
