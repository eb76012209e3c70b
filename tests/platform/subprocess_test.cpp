#include "platform/subprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <optional>
#include <string>

#include "platform/failure.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "support/test_support.h"

using namespace qlcore;

namespace {

bool pid_alive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

int open_descriptors() {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (::fcntl(fd, F_GETFD) != -1) ++n;
    return n;
}

}  // namespace

TEST(Subprocess, ReadExactDeliversWholeChunksAndDropsShortTail) {
    // 10 bytes: two whole 4-byte chunks, then a 2-byte tail that is dropped.
    Child c({"/usr/bin/printf", "abcdefghij"}, {});
    char buf[4];
    ASSERT_TRUE(c.read_exact(buf, 4));
    EXPECT_EQ(std::string(buf, 4), "abcd");
    ASSERT_TRUE(c.read_exact(buf, 4));
    EXPECT_EQ(std::string(buf, 4), "efgh");
    EXPECT_FALSE(c.read_exact(buf, 4));
    EXPECT_FALSE(c.read_exact(buf, 4));  // stays at the end
    EXPECT_EQ(c.wait().code, 0);
}

TEST(Subprocess, ExitStatusAndSignalStatus) {
    RunResult exited = run_capture({"/bin/sh", "-c", "exit 3"});
    EXPECT_EQ(exited.status, 3);
    EXPECT_EQ(exited.ended_by, "");
    RunResult killed = run_capture({"/bin/sh", "-c", "kill -9 $$"});
    EXPECT_EQ(killed.status, 128 + 9);
    EXPECT_EQ(killed.ended_by, "Killed");
    Child child({"/bin/sh", "-c", "exit 0"}, {Stdio::Null, Stdio::Null, Stdio::Null});
    EXPECT_TRUE(child.wait().success());
}

TEST(Subprocess, StartFailureIsAMediaError) {
    try {
        Child c({"/nonexistent/program"}, {});
        FAIL() << "started a program that does not exist";
    } catch (const MediaError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot start /nonexistent/program"),
                  std::string::npos);
    }
}

// Every descriptor opened on the way is closed again, whichever way the
// start or the write ends.
TEST(Subprocess, NoDescriptorOutlivesAFailedStartOrWrite) {
    qltest::ScopedTempDir dir;
    const int before = open_descriptors();
    for (int i = 0; i < 20; ++i) {
        EXPECT_THROW(Child({"/nonexistent/program"}, {Stdio::Pipe, Stdio::Pipe, Stdio::Pipe}),
                     MediaError);
        EXPECT_THROW(write_file_atomic(dir / "no" / "such" / "folder", "x"), std::runtime_error);
        EXPECT_EQ(run_capture({"/bin/sh", "-c", "echo out; echo err >&2"}).out, "out\n");
        write_file_atomic(dir / "done.txt", "text");
    }
    EXPECT_EQ(open_descriptors(), before);
}

TEST(Subprocess, CaptureDrainsLargeStdoutAndStderrTogether) {
    // 1 MB on each stream would deadlock a reader that drains one at a time.
    auto r = run_capture({"/bin/sh", "-c",
                          "head -c 1000000 /dev/zero; head -c 1000000 /dev/zero >&2; "
                          "head -c 1000000 /dev/zero; exit 7"});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out.size(), 2000000u);
    EXPECT_EQ(r.err.size(), 1000000u);
}

TEST(Subprocess, WritingIntoAnExitedChildIsAnErrorValueNotASignal) {
    install_signal_handlers();  // ignores SIGPIPE like the program does
    Child c({"/bin/true"}, {Stdio::Pipe, Stdio::Null, Stdio::Null});
    c.wait();
    std::string block(1 << 20, 'x');
    EXPECT_FALSE(c.write_all(block.data(), block.size()));
}

TEST(Subprocess, WriteAllFeedsTheChild) {
    Child c({"/usr/bin/wc", "-c"}, {Stdio::Pipe, Stdio::Pipe, Stdio::Null});
    std::string block(300000, 'x');
    ASSERT_TRUE(c.write_all(block.data(), block.size()));
    c.close_stdin();
    EXPECT_EQ(c.read_all_stdout(), "300000\n");
    EXPECT_EQ(c.wait().code, 0);
}

TEST(Subprocess, AChildWithMuchToSayOnStderrNeverStalls) {
    // Far more than a pipe holds goes to stderr before the child reads or
    // writes its other pipes: unless stderr is drained meanwhile, both wait
    // for each other for ever.
    const std::string noisy = "head -c 300000 /dev/zero | tr '\\0' e >&2; ";
    Child reader({"/bin/sh", "-c", noisy + "echo done"}, {Stdio::Null, Stdio::Pipe, Stdio::Pipe});
    char buf[5];
    ASSERT_TRUE(reader.read_exact(buf, 5));
    EXPECT_EQ(std::string(buf, 5), "done\n");
    EXPECT_EQ(reader.read_all_stderr(), std::string(300000, 'e'));
    EXPECT_EQ(reader.wait().code, 0);

    Child writer({"/bin/sh", "-c", noisy + "wc -c >&2"}, {Stdio::Pipe, Stdio::Null, Stdio::Pipe});
    std::string block(300000, 'x');
    ASSERT_TRUE(writer.write_all(block.data(), block.size()));
    writer.close_stdin();
    EXPECT_EQ(writer.read_all_stderr(), std::string(300000, 'e') + "300000\n");
    EXPECT_EQ(writer.wait().code, 0);
}

TEST(Subprocess, DestroyingARunningChildKillsAndReapsIt) {
    pid_t pid = -1;
    {
        Child c({"/bin/sleep", "30"}, {Stdio::Null, Stdio::Pipe, Stdio::Null});
        pid = c.pid();
        ASSERT_TRUE(pid_alive(pid));
    }
    // Reaped, not a zombie: waitpid finds no such child.
    EXPECT_FALSE(pid_alive(pid));
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
}

TEST(Subprocess, ChildIsKilledWhenTheOwnerUnwinds) {
    pid_t pid = -1;
    try {
        Child c({"/bin/sleep", "30"}, {});
        pid = c.pid();
        throw std::runtime_error("caller failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(pid_alive(pid));
}

TEST(Subprocess, ArgumentsReachTheChildUnchangedWithoutAShell) {
    auto r = run_capture({"/usr/bin/printf", "%s|", "a b", "$HOME", "*", "-x", "'q'"});
    EXPECT_EQ(r.out, "a b|$HOME|*|-x|'q'|");
}

TEST(Subprocess, PipeEndsAreNotInheritedBySecondChild) {
    // If the first child's stdin pipe leaked into the second child, the first
    // would never see the end of its input and this test would hang.
    Child first({"/bin/cat"}, {Stdio::Pipe, Stdio::Pipe, Stdio::Null});
    Child second({"/bin/sleep", "5"}, {Stdio::Null, Stdio::Null, Stdio::Null});
    first.write_all("hi", 2);
    first.close_stdin();
    EXPECT_EQ(first.read_all_stdout(), "hi");
    EXPECT_EQ(first.wait().code, 0);
}

#if defined(__GLIBC__)
TEST(Subprocess, AFrameWriterKeepsFreedMemoryUnlessTheUserTunedItself) {
    const auto tunables = [](bool frame_output) {
        Child c({"/usr/bin/env"}, {Stdio::Null, Stdio::Pipe, Stdio::Null, frame_output});
        const std::string out = c.read_all_stdout();
        EXPECT_EQ(c.wait().code, 0);
        const size_t at = out.find("GLIBC_TUNABLES=");
        return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
    };
    const char* was = getenv("GLIBC_TUNABLES");
    const std::optional<std::string> before = was ? std::optional<std::string>(was) : std::nullopt;
    unsetenv("GLIBC_TUNABLES");
    EXPECT_EQ(tunables(false), "");
    const std::string frames = tunables(true);
    EXPECT_NE(frames.find("glibc.malloc.mmap_threshold=268435456"), std::string::npos) << frames;
    EXPECT_NE(frames.find("glibc.malloc.trim_threshold="), std::string::npos) << frames;

    setenv("GLIBC_TUNABLES", "glibc.malloc.arena_max=1", 1);
    const std::string own = tunables(true);
    if (before) {
        setenv("GLIBC_TUNABLES", before->c_str(), 1);
    } else {
        unsetenv("GLIBC_TUNABLES");
    }
    EXPECT_EQ(own, "GLIBC_TUNABLES=glibc.malloc.arena_max=1");
}
#endif
