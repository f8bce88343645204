// Without a lease (a user who neither owns the file nor may take leases of
// others' files) the tool falls back to advisory locks and a scan of the
// processes that user may inspect. Run for real as "nobody" on a root-owned
// file; needs root to switch users.
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

std::vector<std::string> as_nobody(std::vector<std::string> argv)
{
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    return argv;
}

class fallback : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to run the tool as another user";
        // The clone may sit in a folder closed to other users: copies of the
        // programs go where nobody can reach them.
        fs::permissions(dir.path(), fs::perms::all, fs::perm_options::remove);
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        tool = dir / "Kestrn";
        helper = dir / "kestrn_holder";
        fs::copy_file(tool_program(), tool);
        fs::copy_file(holder_program(), helper);
        file = dir.write("root-owned.txt", std::string(8192, 'r'));
        open_to_all(file);
    }

    // Root still owns it, so nobody gets no lease, but may open it any way.
    static void open_to_all(const std::string &name)
    {
        fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::group_write |
                                  fs::perms::others_read | fs::perms::others_write);
    }

    int verdict_for_nobody(const std::string &name)
    {
        run_result r = run_program(as_nobody({tool, name}));
        return r.exit_code;
    }

    temp_dir dir;
    std::string tool, helper, file;
};

TEST_F(fallback, free_file_is_free)
{
    EXPECT_EQ(verdict_for_nobody(file), 0);
}

TEST_F(fallback, unreadable_file_is_refused)
{
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(verdict_for_nobody(file), 1);
}

// Holders that the scan can see: processes of the same user.
TEST_F(fallback, holders_of_the_same_user_are_seen)
{
    for (const char *mode : {"read", "readwrite", "map"}) {
        holder h(as_nobody({helper, mode, file}));
        ASSERT_TRUE(h.ready()) << mode;
        EXPECT_EQ(verdict_for_nobody(file), 1) << mode;
    }
    holder running(as_nobody({helper, "idle", file}));
    ASSERT_TRUE(running.ready());
    EXPECT_EQ(verdict_for_nobody(helper), 1) << "a program that nobody is running";
}

// Locks reveal holders that the scan cannot see: root's processes.
TEST_F(fallback, advisory_locks_of_any_user_are_seen)
{
    for (const char *mode : {"flock", "posix-lock", "ofd-lock"}) {
        holder h({helper, mode, file});
        ASSERT_TRUE(h.ready()) << mode;
        EXPECT_EQ(verdict_for_nobody(file), 1) << mode;
    }
    EXPECT_EQ(verdict_for_nobody(file), 0);
}

TEST_F(fallback, fifo_held_by_the_same_user_is_refused)
{
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    open_to_all(fifo);
    EXPECT_EQ(verdict_for_nobody(fifo), 0);
    holder h(as_nobody({helper, "readwrite", fifo}));
    ASSERT_TRUE(h.ready());
    EXPECT_EQ(verdict_for_nobody(fifo), 1);
}

} // namespace
