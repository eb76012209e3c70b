// The Windows layer, run under Wine in CI and on Windows itself. The test
// program doubles as the child these tests start: with QLCORE_TEST_CHILD set
// it acts on its arguments and exits before any test runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/subprocess.h"
#include "platform/system.h"
#include "platform/win32.h"

using namespace qlcore;

namespace {

// Holds `path` open as an editor that imported it does (reading, sharing
// reads only), says "held", and lets go after `ms` milliseconds (0: never).
void _hold(const std::string& path, unsigned long ms) {
    HANDLE h = ::CreateFileW(u8path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) ::ExitProcess(2);
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(ms ? ms : INFINITE);
    ::ExitProcess(0);
}

// Echo: prints each argument after the program's own name on a line of its
// own. "exit N": exits with N. "sleep": waits to be ended. "hold PATH MS":
// holds a file open (see _hold); scripts/windows-test uses it too.
const bool child_mode = [] {
    if (!get_env("QLCORE_TEST_CHILD")) return false;
    const std::vector<std::string> args = program_arguments(__argc, __argv);
    if (args.size() >= 3 && args[1] == "exit") ::ExitProcess(std::stoul(args[2], nullptr, 0));
    if (args.size() >= 2 && args[1] == "sleep") ::Sleep(INFINITE);
    if (args.size() >= 4 && args[1] == "hold") _hold(args[2], std::stoul(args[3]));
    // "endsession": asks its own program, as Windows does before a restart,
    // whether the session may end; exits 0 when that stopped the run.
    if (args.size() >= 2 && args[1] == "endsession") {
        install_signal_handlers();
        HWND window = nullptr;
        for (int i = 0; i < 100 && !window; ++i, ::Sleep(50))
            window = ::FindWindowW(L"qlcore end of session", nullptr);
        DWORD_PTR answer = 0;
        if (!window ||
            !::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &answer))
            ::ExitProcess(3);
        ::ExitProcess(answer == TRUE && interrupt_signal() == SIGTERM ? 0 : 4);
    }
    // "signal H": sets the event H names, if this process has it.
    if (args.size() >= 3 && args[1] == "signal") {
        ::SetEvent(reinterpret_cast<HANDLE>(std::stoull(args[2])));
        ::ExitProcess(0);
    }
    for (size_t i = 1; i < args.size(); ++i)
        std::printf("[%s]\n", args[i].c_str());
    std::fflush(stdout);
    ::ExitProcess(0);
}();

std::vector<std::string> child(std::vector<std::string> args) {
    set_env_default("QLCORE_TEST_CHILD", "1");
    args.insert(args.begin(), u8string(self_exe_path()));
    return args;
}

// A fresh folder in the temporary folder Windows itself reports.
struct TempFolder {
    fs::path path;
    TempFolder() {
        path = fs::temp_directory_path() /
               u8path("qlcore win32 \xc3\xa9t\xc3\xa9 " + std::to_string(process_id()));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

TEST(Win32Child, ArgumentsArriveExactlyAsGiven) {
    ASSERT_FALSE(child_mode);
    const std::vector<std::string> args{"plain",
                                        "with space",
                                        "quote\"inside",
                                        "trailing\\",
                                        "a\\\\\"b",
                                        "",
                                        "Caf\xc3\xa9 \xe6\x97\xa5",
                                        "-i",
                                        "C:\\dir with space\\"};
    RunResult r = run_capture(child(args));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (const std::string& a : args)
        expected += "[" + a + "]\r\n";  // stdout in text mode
    EXPECT_EQ(r.out, expected);
}

TEST(Win32Child, ExitCodesAndWhatEndedAChild) {
    RunResult exited = run_capture(child({"exit", "3"}));
    EXPECT_EQ(exited.status, 3);
    EXPECT_EQ(exited.ended_by, "");
    RunResult crashed = run_capture(child({"exit", "0xC0000005"}));
    EXPECT_EQ(crashed.ended_by, "exception 0xC0000005");

    Child sleeper(child({"sleep"}), {Stdio::Null, Stdio::Null, Stdio::Null});
    EXPECT_TRUE(sleeper.running());
    sleeper.kill();
    ExitStatus st = sleeper.wait();
    EXPECT_FALSE(st.success());
    EXPECT_EQ(st.ended_by, "Killed");
}

TEST(Win32Child, AProgramThatIsNotThereIsAMediaErrorNamingIt) {
    try {
        Child c({"C:\\no\\such\\program.exe"}, {});
        FAIL() << "started a program that does not exist";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot start C:\\no\\such\\program.exe: ", 0), 0u)
            << e.what();
    }
}

TEST(Win32Files, AtomicWritesReplaceFilesWithNamesOutsideTheCodePage) {
    TempFolder dir;
    const fs::path file = dir.path / u8path("r\xc3\xa9sultats \xe6\x97\xa5.tsv");
    write_text_file_atomic(file, "a\tb\n");
    write_text_file_atomic(file, "c\td\n");
    EXPECT_EQ(read_file(file), "c\td\r\n");
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
    const FileStatus st = file_status(file);
    EXPECT_EQ(st.size, 5u);
    EXPECT_NEAR(static_cast<double>(st.mtime), mtime_precise(file), 1.0);
}

// OpenCV opens models by a narrow name and tells their format by the
// extension: both must survive a folder named outside the code page.
TEST(Win32Files, NarrowPathsOpenFilesInFoldersNamedOutsideTheCodePage) {
    TempFolder dir;
    const fs::path model = dir.path / "face_detection_yunet_2023mar.onnx";
    std::ofstream(model) << "onnx";
    const std::string narrow = narrow_path(model);
    EXPECT_EQ(narrow.substr(narrow.size() - 34), "\\face_detection_yunet_2023mar.onnx");
    std::ifstream in(narrow);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "onnx") << narrow;
    EXPECT_EQ(narrow_path(fs::path("C:\\plain\\a.onnx")), "C:\\plain\\a.onnx");
}

// A models folder named outside the code page may have no short form on
// the user's volume: the model is then named alone from its folder made
// current, and the folder that was current is put back.
TEST(Win32Files, NarrowNamesReachFilesInFoldersNamedOutsideTheCodePage) {
    TempFolder dir;
    const fs::path folder = dir.path / u8path("\xe6\xa8\xa1\xe5\x9e\x8b \xce\xa9");
    fs::create_directories(folder);
    const fs::path model = folder / "face_recognition_sface_2021dec.onnx";
    std::ofstream(model) << "onnx";
    const fs::path before = fs::current_path();
    {
        const NarrowName name(model);
        EXPECT_EQ(name.str(), "face_recognition_sface_2021dec.onnx");
        EXPECT_TRUE(fs::equivalent(fs::current_path(), folder));
        std::ifstream in(name.str());
        std::string text;
        in >> text;
        EXPECT_EQ(text, "onnx");
    }
    EXPECT_EQ(fs::current_path(), before);
    {
        const NarrowName plain(fs::path("C:\\plain\\a.onnx"));
        EXPECT_EQ(plain.str(), "C:\\plain\\a.onnx");
    }
    EXPECT_EQ(fs::current_path(), before);
}

TEST(Win32Files, ProgramSearchFindsExeFilesAlongPathWithoutTheirExtension) {
    TempFolder dir;
    std::ofstream(dir.path / "tool.exe") << "MZ";
    ::SetEnvironmentVariableW(L"PATH", (L"C:\\no-such-folder;" + dir.path.wstring()).c_str());
    ::SetEnvironmentVariableW(L"PATHEXT", L".COM;.EXE");
    auto found = find_on_path("tool");
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, dir.path / "tool.exe");
    EXPECT_FALSE(find_on_path("other"));
}

TEST(Win32System, TheEnvironmentAndTheProgramsOwnPath) {
    ::SetEnvironmentVariableW(L"QLCORE_TEST_VALUE", L"Caf\u00e9");
    EXPECT_EQ(get_env("QLCORE_TEST_VALUE"), "Caf\xc3\xa9");
    EXPECT_FALSE(get_env("QLCORE_TEST_UNSET"));
    set_env_default("QLCORE_TEST_VALUE", "other");
    EXPECT_EQ(get_env("QLCORE_TEST_VALUE"), "Caf\xc3\xa9");  // set already: kept
    EXPECT_EQ(u8string(self_exe_path().filename()), "test_windows.exe");
    EXPECT_TRUE(self_exe_path().is_absolute());
    EXPECT_FALSE(user_home().empty());
}

namespace {

// A child holding `file` open until it is ended, or for `ms` milliseconds.
struct Holder {
    Child proc;
    Holder(const fs::path& file, unsigned long ms)
        : proc(child({"hold", u8string(file), std::to_string(ms)}),
               {Stdio::Null, Stdio::Pipe, Stdio::Null}) {
        char said[5] = {};
        EXPECT_TRUE(proc.read_exact(said, 5) && std::string(said, 5) == "held\r")
            << "the file was not held";
    }
};

size_t entries_in(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        (void)e;
        ++n;
    }
    return n;
}

}  // namespace

// A child gets its three standard handles and nothing else this process
// made inheritable: another child's pipe end held by a sibling would keep
// that pipe open after its owner closed it.
TEST(Win32Child, InheritsOnlyItsStandardHandles) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE event = ::CreateEventW(&sa, TRUE, FALSE, nullptr);
    ASSERT_TRUE(event);
    const auto value = reinterpret_cast<uintptr_t>(event);
    RunResult r = run_capture(child({"signal", std::to_string(value)}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the child had the event";
    ::CloseHandle(event);
}

// Antivirus, indexing, sync clients and an editor that imported a file hold
// it open; a rename onto it fails while they do. A short hold is waited out;
// a long one is reported as such; a read-only file is no hold to wait for.
TEST(Win32Files, ReplacingAFileHeldOpenWaitsAndThenSaysItIsInUse) {
    TempFolder dir;
    const fs::path target = dir.path / u8path("A001_mosaic \xc3\xa9t\xc3\xa9.mov");
    const fs::path fresh = dir.path / "fresh.mov";
    write_file_atomic(target, "old");
    {
        Holder brief(target, 700);
        write_file_atomic(fresh, "new");
        const Replaced r = replace_file(fresh, target, 10.0);
        EXPECT_TRUE(r.ok) << r.reason;
        EXPECT_EQ(read_file(target), "new");
    }
    {
        Holder forever(target, 0);
        write_file_atomic(fresh, "newer");
        const Replaced r = replace_file(fresh, target, 0.5);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.in_use) << r.reason;
        EXPECT_EQ(read_file(fresh), "newer");  // nothing lost
        // The program's own atomic writes say it in words.
        try {
            write_file_atomic(target, "report");
            ADD_FAILURE() << "replaced a file held open";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("it is open in another program"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(entries_in(dir.path), 2u) << "the atomic write left its temporary file";
        forever.proc.kill();
    }
    // A folder in the way: refused at once, no hold to wait out.
    fs::remove(target);
    fs::create_directories(target / "inside");
    const Replaced r = replace_file(fresh, target, 30.0);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.in_use) << r.reason;
}

// Job files written in the user's code page by older scripts and editors
// read as the same names as UTF-8 ones.
TEST(Win32Files, TextInTheSystemCodePageReadsAsUtf8) {
    if (::GetACP() == CP_UTF8) GTEST_SKIP() << "the code page is UTF-8 already";
    const std::string ansi = narrow(L"\u00c9t\u00e9 Zo\u00eb", CP_ACP);
    ASSERT_NE(ansi, "\xc3\x89t\xc3\xa9 Zo\xc3\xab");
    EXPECT_EQ(text_as_utf8(ansi + "\r\n"), "\xc3\x89t\xc3\xa9 Zo\xc3\xab\r\n");
    EXPECT_EQ(text_as_utf8("\xef\xbb\xbf\xc3\x89t\xc3\xa9"), "\xc3\x89t\xc3\xa9");
}

// The program's own file calls reach files whose paths pass 260 characters.
// (The C runtime's folder listing does not: it lists the current folder
// instead. So the people folders are listed through the system, and this
// test cleans up through it.)
TEST(Win32Files, PathsPastTheOldLimitWork) {
    TempFolder dir;
    std::vector<fs::path> levels{dir.path};
    for (char c : std::string("abc")) {
        levels.push_back(levels.back() / std::string(100, c));
        ASSERT_TRUE(::CreateDirectoryW(os_path(levels.back()).c_str(), nullptr));
    }
    const fs::path deep = levels.back();
    const fs::path file = deep / u8path("r\xc3\xa9sultats.tsv");
    ASSERT_GT(file.native().size(), 300u);
    ASSERT_EQ(os_path(file).native().rfind(L"\\\\?\\C:\\", 0), 0u) << u8string(os_path(file));
    write_text_file_atomic(file, "a\n");
    write_text_file_atomic(file, "b\n");
    EXPECT_EQ(read_file(file), "b\r\n");
    EXPECT_EQ(file_status(file).size, 3u);
    // Listed as it is, not as the current folder.
    const std::vector<FolderEntry> entries = folder_entries(deep);
    ASSERT_EQ(entries.size(), 1u) << "a temporary file was left, or another folder was listed";
    EXPECT_EQ(entries[0].name, "r\xc3\xa9sultats.tsv");
    EXPECT_FALSE(entries[0].folder);
    const std::vector<FolderEntry> above = folder_entries(levels[2]);
    ASSERT_EQ(above.size(), 1u);
    EXPECT_TRUE(above[0].folder);
    EXPECT_TRUE(::DeleteFileW(os_path(file).c_str()));
    for (size_t i = levels.size() - 1; i > 0; --i)
        EXPECT_TRUE(::RemoveDirectoryW(os_path(levels[i]).c_str()));
}

// A .cmd or .bat runs through cmd.exe, which parses its arguments as a
// command line: only programs proper are found, whatever PATHEXT says.
TEST(Win32Files, ProgramSearchNeverFindsScripts) {
    TempFolder dir;
    fs::create_directories(dir.path / "scripts");
    fs::create_directories(dir.path / "programs");
    std::ofstream(dir.path / "scripts" / "tool.cmd") << "@echo off";
    std::ofstream(dir.path / "scripts" / "tool.bat") << "@echo off";
    std::ofstream(dir.path / "programs" / "tool.exe") << "MZ";
    ::SetEnvironmentVariableW(
        L"PATH",
        ((dir.path / "scripts").wstring() + L";" + (dir.path / "programs").wstring()).c_str());
    ::SetEnvironmentVariableW(L"PATHEXT", L".CMD;.BAT;.EXE");
    EXPECT_EQ(find_on_path("tool"), dir.path / "programs" / "tool.exe");
    fs::remove(dir.path / "programs" / "tool.exe");
    EXPECT_FALSE(find_on_path("tool"));
}

// Windows' restart for updates: the session's end stops the run as a
// console close does.
TEST(Win32System, TheSessionsEndStopsTheRun) {
    HWND probe =
        ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!probe) GTEST_SKIP() << "no window station here (Wine without a display)";
    ::DestroyWindow(probe);
    RunResult r = run_capture(child({"endsession"}));
    EXPECT_EQ(r.status, 0) << r.err;
}

// The console outlives the program: what it changed is put back for the
// commands that run in it afterwards.
TEST(Win32System, TheConsoleIsLeftAsItWasFound) {
    const UINT cp = ::GetConsoleOutputCP();
    if (cp == 0) GTEST_SKIP() << "no console";
    ASSERT_TRUE(::SetConsoleOutputCP(850));
    console_utf8();
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    restore_console();
    EXPECT_EQ(::GetConsoleOutputCP(), 850u);
    ::SetConsoleOutputCP(cp);
}
