// Platform rules given as values, so every platform's rows run on each build.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/platform.h"

using namespace qlcore;

namespace {

const Platform LINUX{}, WIN{false, true, ""};

std::vector<std::string> texts(const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    for (const fs::path& p : paths)
        out.push_back(u8string(p));
    return out;
}

std::string joined(std::initializer_list<const char*> parts) {
    return u8string(fs::path(parts.begin()[0]) / parts.begin()[1]);
}

}  // namespace

TEST(ProgramSearch, PosixFoldersApartByColonsAndAnEmptyOneIsHere) {
    EXPECT_EQ(texts(program_candidates("ffmpeg", "/usr/bin::/opt/x", "", LINUX)),
              (std::vector<std::string>{joined({"/usr/bin", "ffmpeg"}), joined({".", "ffmpeg"}),
                                        joined({"/opt/x", "ffmpeg"})}));
    EXPECT_TRUE(program_candidates("ffmpeg", "", "", LINUX).empty());
}

TEST(ProgramSearch, WindowsTriesEachExtensionInOrderAndSkipsEmptyFolders) {
    auto got =
        texts(program_candidates("ffmpeg", "C:\\Tools;;\"D:\\My Apps\"", ".EXE;.CMD;.COM", WIN));
    EXPECT_EQ(got,
              (std::vector<std::string>{
                  joined({"C:\\Tools", "ffmpeg.exe"}), joined({"C:\\Tools", "ffmpeg.com"}),
                  joined({"D:\\My Apps", "ffmpeg.exe"}), joined({"D:\\My Apps", "ffmpeg.com"})}));
    // A name that already ends in one of them is tried as it is first; an
    // unset PATHEXT means the programs proper, .com then .exe.
    EXPECT_EQ(texts(program_candidates("ffmpeg.EXE", "C:\\T", "", WIN)).front(),
              joined({"C:\\T", "ffmpeg.EXE"}));
    EXPECT_EQ(texts(program_candidates("ffmpeg", "C:\\T", "", WIN)),
              (std::vector<std::string>{joined({"C:\\T", "ffmpeg.com"}),
                                        joined({"C:\\T", "ffmpeg.exe"})}));
    // Scripts run through cmd.exe, which would parse a clip's name as a
    // command line: never a candidate, whatever PATHEXT says.
    for (const char* pathext : {".BAT;.CMD", ".CMD;.EXE;.BAT", ".JS;.PS1;.exe"}) {
        for (const fs::path& c : program_candidates("ffmpeg", "C:\\T", pathext, WIN)) {
            const std::string ext = u8string(c.extension());
            EXPECT_TRUE(ext == ".exe" || ext == ".com") << pathext << ": " << u8string(c);
        }
    }
    for (const fs::path& c : program_candidates("ffmpeg.cmd", "C:\\T", ".CMD", WIN))
        EXPECT_NE(u8string(c.extension()), ".cmd");
    // ':' is part of a Windows folder, never a separator there.
    EXPECT_EQ(program_candidates("ffmpeg", "C:\\A", ".EXE", WIN).size(), 1u);
}

TEST(TextFiles, LineBreaksAreCrLfOnWindowsOnly) {
    EXPECT_EQ(platform_text("a\tb\nc\n", WIN), "a\tb\r\nc\r\n");
    EXPECT_EQ(platform_text("a\tb\nc\n", LINUX), "a\tb\nc\n");
    EXPECT_EQ(platform_text("", WIN), "");
}

TEST(Utf8Paths, NamesOutsideAsciiSurviveTheTripThroughAPath) {
    const std::string name = "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xac.mov";
    const fs::path p = u8path(name);
    EXPECT_EQ(u8string(p), name);
    EXPECT_EQ(u8string(p.filename()), name);
    EXPECT_EQ(u8string(p.stem()), name.substr(0, name.size() - 4));
}

// Job files come from other programs: UTF-8 is taken as it is, anything
// else is the system's code page, so the test must reject every malformed
// form a code-page text can take by chance.
TEST(TextFiles, Utf8IsTakenAsItIsAndOnlyWellFormedUtf8Counts) {
    EXPECT_TRUE(valid_utf8(""));
    EXPECT_TRUE(
        valid_utf8("\xc3\x89t\xc3\xa9 Zo\xc3\xab \xe6\x97\xa5 \xf0\x9f\x8e\xac \xf4\x8f\xbf\xbf"));
    for (const char* bad : {"\xc9t\xe9",          // cp1252 "Été"
                            "Zo\xeb",             // cp1252 "Zoë", its last byte a lead byte
                            "\xc3",               // cut short
                            "\xc0\xaf",           // overlong '/'
                            "\xe0\x80\xaf",       // overlong, three bytes
                            "\xed\xa0\x80",       // a surrogate
                            "\xf4\x90\x80\x80",   // past U+10FFFF
                            "\xe6\x97", "\x80"})  // a lone continuation byte
        EXPECT_FALSE(valid_utf8(bad)) << bad;
    // A byte-order mark is dropped; the rest of UTF-8 text is untouched.
    EXPECT_EQ(text_as_utf8("\xef\xbb\xbf"
                           "Zo\xc3\xab\r\n"),
              "Zo\xc3\xab\r\n");
    EXPECT_EQ(text_as_utf8("caf\xc3\xa9"), "caf\xc3\xa9");
}

// The system takes an extended-length name literally, so whatever it would
// do to an ordinary one must be done before the prefix goes on.
TEST(LongPaths, AbsolutePathsTakeTheExtendedFormWithWhatTheSystemWouldResolveResolved) {
    EXPECT_EQ(extended_length_path(L"C:\\Footage\\A001.mov"), L"\\\\?\\C:\\Footage\\A001.mov");
    EXPECT_EQ(extended_length_path(L"d:/Footage//day 1/./x/../A001.mov"),
              L"\\\\?\\d:\\Footage\\day 1\\A001.mov");
    EXPECT_EQ(extended_length_path(L"C:\\Footage.\\take 2 \\A.mov"),
              L"\\\\?\\C:\\Footage\\take 2\\A.mov");
    EXPECT_EQ(extended_length_path(L"C:\\..\\.."), L"\\\\?\\C:\\");
    EXPECT_EQ(extended_length_path(L"\\\\nas\\media\\Day 1\\A.mov"),
              L"\\\\?\\UNC\\nas\\media\\Day 1\\A.mov");
    EXPECT_EQ(extended_length_path(L"//nas/media/../A.mov"), L"\\\\?\\UNC\\nas\\media\\A.mov");
    // Already extended, a device, relative, drive-relative, or a share
    // without its name: left as they are.
    for (const wchar_t* same : {L"\\\\?\\C:\\a\\..\\b", L"\\\\.\\pipe\\x", L"Footage\\A.mov",
                                L"C:Footage", L"\\\\nas", L"\\\\nas\\", L"\\Footage\\A.mov"})
        EXPECT_EQ(extended_length_path(same), same);
}
