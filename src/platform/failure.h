// The program's three kinds of failure.
//
// FatalStop ends the whole program (message on stderr, status 1). It is
// deliberately not a std::exception, so the per-clip handlers, which catch
// std::exception, can never swallow it; only main catches it.
//
// MediaError is the expected media problem with a one-line message; render
// catches it to try the next encoder, the batch runner to fail one clip.
//
// Interrupted is thrown once SIGINT or SIGTERM arrived; like FatalStop it is
// caught by main only, after every destructor has ended children and removed
// temporary files on the way out.
#pragma once

#include <stdexcept>
#include <string>

namespace qlcore {

struct FatalStop {
    std::string message;
};

class MediaError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Interrupted {
    int signal_number;
};

[[noreturn]] inline void stop_with(const std::string& message) {
    throw FatalStop{message};
}

}  // namespace qlcore
