// The Windows layer, run under Wine in CI and on Windows itself. The test
// program doubles as the child these tests start: with QLCORE_TEST_CHILD set
// it acts on its arguments and exits before any test runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/files.h"
#include "platform/subprocess.h"
#include "platform/system.h"

using namespace qlcore;

namespace {

// Echo: prints each argument after the program's own name on a line of its
// own. "exit N": exits with N. "sleep": waits to be ended.
const bool child_mode = [] {
    if (!get_env("QLCORE_TEST_CHILD")) return false;
    const std::vector<std::string> args = program_arguments(__argc, __argv);
    if (args.size() >= 3 && args[1] == "exit") ::ExitProcess(std::stoul(args[2], nullptr, 0));
    if (args.size() >= 2 && args[1] == "sleep") ::Sleep(INFINITE);
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
