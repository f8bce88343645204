// The probe against real holders: other processes that have the file open,
// mapped, locked or running.
#include "probe.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include "posix/win32_file.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

namespace fs = std::filesystem;

class probe : public ::testing::Test
{
protected:
    temp_dir dir;
};

TEST_F(probe, free_file_is_free_again_and_again)
{
    std::string file = dir.write("free.txt");
    EXPECT_TRUE(probe_exclusive_open(file.c_str()));
    // A leaked handle would make the second exclusive open fail.
    EXPECT_TRUE(probe_exclusive_open(file.c_str()));
}

TEST_F(probe, refuses_what_cannot_be_opened)
{
    std::string missing = dir / "missing.txt";
    std::string too_long = dir / std::string(5000, 'n');
    EXPECT_FALSE(probe_exclusive_open(missing.c_str()));
    EXPECT_FALSE(fs::exists(missing)) << "the probe created the file";
    EXPECT_FALSE(probe_exclusive_open(""));
    EXPECT_FALSE(probe_exclusive_open(too_long.c_str()));
    EXPECT_FALSE(probe_exclusive_open(dir.path().string().c_str())) << "a directory";
}

TEST_F(probe, read_only_file_nobody_holds_is_free)
{
    std::string file = dir.write("read-only.txt");
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_TRUE(probe_exclusive_open(file.c_str()));
}

#ifndef _WIN32
// The stand-in does the one open the probe makes, and nothing else.
TEST_F(probe, stand_in_refuses_any_other_open)
{
    std::string file = dir.write("free.txt");
    const char *name = file.c_str();
    int dummy = 0;
    auto *attributes = reinterpret_cast<LPSECURITY_ATTRIBUTES>(&dummy);
    const struct {
        DWORD access, share;
        LPSECURITY_ATTRIBUTES attributes;
        DWORD disposition, flags;
        HANDLE template_file;
    } others[] = {
        {GENERIC_READ | 0x40000000U, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr},
        {GENERIC_READ, 1, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr},
        {GENERIC_READ, 0, attributes, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr},
        {GENERIC_READ, 0, nullptr, 4, FILE_ATTRIBUTE_NORMAL, nullptr},
        {GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0x80 | 0x02000000U, nullptr},
        {GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, &dummy},
    };
    for (const auto &o : others)
        EXPECT_EQ(CreateFileA(name, o.access, o.share, o.attributes, o.disposition, o.flags,
                              o.template_file),
                  INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE h =
        CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST_F(probe, leaves_content_and_timestamps_alone)
{
    std::string file = dir.write("kept.txt", "exactly this\n");
    struct stat before, after;
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    // Let any change to a timestamp be visible even on coarse clocks.
    usleep(20000);
    EXPECT_TRUE(probe_exclusive_open(file.c_str()));
    {
        holder h({holder_program(), "read", file});
        ASSERT_TRUE(h.ready());
        EXPECT_FALSE(probe_exclusive_open(file.c_str()));
    }
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(read_file(file), "exactly this\n");
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
    EXPECT_EQ(before.st_atim.tv_nsec, after.st_atim.tv_nsec);
}
#endif

// Every way another process can hold the file: refused while it holds,
// free once it has let go.
class held_by : public probe, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(held_by, refused_while_held_and_free_after)
{
    std::string file = dir.write("held.txt", std::string(8192, 'x'));
    holder h({holder_program(), GetParam(), file});
    ASSERT_TRUE(h.ready());
    EXPECT_FALSE(probe_exclusive_open(file.c_str()));
    h.release();
    EXPECT_TRUE(probe_exclusive_open(file.c_str()));
}

#ifdef _WIN32
// access:share, share being what the holder lets others do.
INSTANTIATE_TEST_SUITE_P(windows_holders, held_by,
                         ::testing::Values("r:none", "r:r", "r:rw", "r:rwd", "w:none", "w:r",
                                           "w:rw", "w:rwd", "rw:none", "rw:r", "rw:rw", "rw:rwd"));
#else
INSTANTIATE_TEST_SUITE_P(posix_holders, held_by,
                         ::testing::Values("read", "write", "readwrite", "map", "flock",
                                           "posix-lock", "ofd-lock"),
                         [](const auto &info) {
                             std::string name = info.param;
                             for (char &c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });
#endif

#ifndef _WIN32
// Only the Linux stand-in counts a running program as an opener of its own
// file. On Windows the answer is the platform's, and Wine lets a reader
// that shares nothing in.
TEST_F(probe, running_program_is_held)
{
    std::string copy = dir / "running.exe";
    fs::copy_file(holder_program(), copy);
    EXPECT_TRUE(probe_exclusive_open(copy.c_str())) << "a program that is not running";
    holder h({copy, "idle", copy});
    ASSERT_TRUE(h.ready());
    EXPECT_FALSE(probe_exclusive_open(copy.c_str()));
}

TEST_F(probe, fifo_is_judged_by_its_openers_without_blocking)
{
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_TRUE(probe_exclusive_open(fifo.c_str()));
    holder h({holder_program(), "readwrite", fifo});
    ASSERT_TRUE(h.ready());
    EXPECT_FALSE(probe_exclusive_open(fifo.c_str()));
}
#endif

} // namespace
