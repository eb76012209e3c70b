#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/interrupt.h"

namespace qlcore {
namespace {

constexpr auto LOOK_EVERY = std::chrono::milliseconds(200);

// The one watcher of the process; its destructor, run at exit, ends and
// joins the thread so it never outlives what it uses.
struct Watcher {
    std::mutex mu;
    std::condition_variable wake;
    bool quit = false;
    std::filesystem::path path;  // empty once found
    std::function<void()> found;
    std::thread thread;

    ~Watcher() {
        {
            std::lock_guard<std::mutex> lock(mu);
            quit = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }
};

Watcher& _watcher() {
    static Watcher w;
    return w;
}

}  // namespace

void watch_for_file(const std::filesystem::path& path, std::function<void()> found) {
    Watcher& w = _watcher();
    std::lock_guard<std::mutex> lock(w.mu);
    // Absolute: the process's current folder may change while it is watched
    // (loading the models makes their folder current for a moment).
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    w.path = ec ? path : full;
    w.found = std::move(found);
    if (w.thread.joinable()) return;
    w.thread = std::thread([&w] {
        std::unique_lock<std::mutex> held(w.mu);
        while (!w.wake.wait_for(held, LOOK_EVERY, [&] { return w.quit; })) {
            std::error_code ec;
            if (!w.path.empty() && std::filesystem::exists(w.path, ec)) {
                w.path.clear();
                w.found();
            }
        }
    });
}

}  // namespace qlcore
