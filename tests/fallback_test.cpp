// Without a lease (a user who neither owns the file nor may take leases of
// others' files) the tool falls back to advisory locks and a scan of the
// processes that user may inspect. Run for real as "nobody" on a root-owned
// file; needs root to switch users.
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/texts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pwd.h>
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

TEST_F(fallback, file_on_its_own_stdin_is_held)
{
    run_result r =
        run_program(as_nobody({"/bin/sh", "-c", "exec \"$0\" \"$1\" < \"$1\"", tool, file}));
    EXPECT_EQ(r.exit_code, 1);
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

// The owner takes a lease, and a lease sees every open, whoever made it.
TEST_F(fallback, owner_sees_opens_by_other_users)
{
    const struct passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(chown(file.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    EXPECT_EQ(verdict_for_nobody(file), 0);
    holder h({helper, "read", file});
    ASSERT_TRUE(h.ready());
    EXPECT_EQ(verdict_for_nobody(file), 1) << "held by a process of root";
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

namespace
{

// /proc hidden under an empty tmpfs, in a mount namespace of the tool's own.
std::vector<std::string> with_proc_hidden(const std::vector<std::string> &argv)
{
    std::vector<std::string> wrapped = {"/usr/bin/unshare",
                                        "--mount",
                                        "--propagation",
                                        "private",
                                        "/bin/sh",
                                        "-c",
                                        "mount -t tmpfs none /proc && exec \"$@\"",
                                        "sh"};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

using hidden_proc = fallback;

TEST_F(hidden_proc, root_still_answers_by_lease)
{
    std::string held = dir.write("held.txt");
    holder h({helper, "read", held});
    ASSERT_TRUE(h.ready());
    run_result r = run_program(with_proc_hidden({tool, file}));
    EXPECT_EQ(r.out, free_text);
    r = run_program(with_proc_hidden({tool, held}));
    EXPECT_EQ(r.out, locked_text);
}

TEST_F(hidden_proc, another_user_is_never_told_free)
{
    holder h(as_nobody({helper, "read", file}));
    ASSERT_TRUE(h.ready());
    run_result r = run_program(with_proc_hidden(as_nobody({tool, file})));
    EXPECT_EQ(r.out, locked_text) << "held by nobody's own process";
    h.release();
    r = run_program(with_proc_hidden(as_nobody({tool, file})));
    EXPECT_EQ(r.out, locked_text) << "nobody holds it, but nothing could be checked";
}

} // namespace
