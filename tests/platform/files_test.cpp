#include "platform/files.h"

#include <fcntl.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>
#include <algorithm>

#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

TEST(Files, StatusGivesWholeSecondsAndSize) {
    ScopedTempDir dir;
    fs::path p = dir / "beach.jpg";
    write_file_atomic(p, std::string(512, 'x'));
    struct timespec times[2] = {{900, 900000000}, {900, 900000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    FileStatus st = file_status(p);
    EXPECT_EQ(st.mtime, 900);
    EXPECT_EQ(st.size, 512u);
    EXPECT_NEAR(mtime_precise(p), 900.9, 1e-6);
    EXPECT_THROW(file_status(dir / "missing"), fs::filesystem_error);
}

TEST(Files, AtomicWriteReplacesAndLeavesNoTemporary) {
    ScopedTempDir dir;
    fs::path p = dir / "results.tsv";
    write_file_atomic(p, "old");
    write_file_atomic(p, "new contents");
    EXPECT_EQ(read_file(p), "new contents");
    int n = 0;
    for (auto& e : fs::directory_iterator(dir.path()))
        (void)e, ++n;
    EXPECT_EQ(n, 1);
}

TEST(Files, AtomicWriteIntoMissingFolderFailsCleanly) {
    ScopedTempDir dir;
    EXPECT_THROW(write_file_atomic(dir / "no" / "such" / "file", "x"), std::runtime_error);
}

TEST(Files, ScopedRemoveRemovesUnlessReleased) {
    ScopedTempDir dir;
    write_file_atomic(dir / "a", "x");
    write_file_atomic(dir / "b", "x");
    { ScopedRemove r(dir / "a"); }
    {
        ScopedRemove r(dir / "b");
        r.release();
    }
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "b"));
}

TEST(Files, FindOnPathTakesTheFirstExecutable) {
    ScopedTempDir dir;
    fs::create_directories(dir / "one");
    fs::create_directories(dir / "two");
    write_file_atomic(dir / "one" / "tool", "");  // not executable: skipped
    write_file_atomic(dir / "two" / "tool", "#!/bin/sh\n");
    fs::permissions(dir / "two" / "tool", fs::perms::owner_all);
    std::string old = getenv("PATH");
    setenv("PATH", ((dir / "one").string() + ":" + (dir / "two").string()).c_str(), 1);
    auto found = find_on_path("tool");
    auto none = find_on_path("no-such-tool");
    setenv("PATH", old.c_str(), 1);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, dir / "two" / "tool");
    EXPECT_FALSE(none);
}

TEST(Files, FolderEntriesNameFilesAndFoldersAndFollowLinks) {
    ScopedTempDir dir;
    write_file_atomic(dir / "a.jpg", "x");
    fs::create_directories(dir / "Anna");
    fs::create_directory_symlink(dir / "Anna", dir / "Ann");
    std::vector<std::pair<std::string, bool>> got;
    for (const FolderEntry& e : folder_entries(dir.path()))
        got.emplace_back(e.name, e.folder);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{
                       {"Ann", true}, {"Anna", true}, {"a.jpg", false}}));
    EXPECT_TRUE(folder_entries(dir / "missing").empty());
}
