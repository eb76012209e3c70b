// A POSIX file descriptor that its owner closes on every way out.
#pragma once

#include <unistd.h>

#include <utility>

namespace qlcore {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    // Hands the descriptor over; this owner no longer closes it.
    int release() { return std::exchange(fd_, -1); }
    // Closes now and returns close()'s result (0 when there was nothing to
    // close); the descriptor is gone either way.
    int reset() {
        const int fd = release();
        return fd >= 0 ? ::close(fd) : 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace qlcore
