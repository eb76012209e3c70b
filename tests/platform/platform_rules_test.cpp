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
    auto got = texts(program_candidates("ffmpeg", "C:\\Tools;;\"D:\\My Apps\"", ".EXE;.CMD", WIN));
    EXPECT_EQ(got,
              (std::vector<std::string>{
                  joined({"C:\\Tools", "ffmpeg.exe"}), joined({"C:\\Tools", "ffmpeg.cmd"}),
                  joined({"D:\\My Apps", "ffmpeg.exe"}), joined({"D:\\My Apps", "ffmpeg.cmd"})}));
    // A name that already ends in one of them is tried as it is first; an
    // unset PATHEXT means the system's default list.
    EXPECT_EQ(texts(program_candidates("ffmpeg.EXE", "C:\\T", "", WIN)).front(),
              joined({"C:\\T", "ffmpeg.EXE"}));
    EXPECT_EQ(program_candidates("ffmpeg", "C:\\T", "", WIN).size(), 4u);
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
