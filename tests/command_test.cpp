// The command end to end: the built tool as a separate process, its exact
// standard output bytes and its exit code.
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/texts.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace
{

#ifdef _WIN32
const char read_mode[] = "r:rw";
const char exclusive_mode[] = "r:none";
#else
const char read_mode[] = "read";
const char exclusive_mode[] = "lease";
#endif

class command : public ::testing::Test
{
protected:
    temp_dir dir;

    run_result kestrn(std::vector<std::string> args, stdout_kind kind = stdout_kind::pipe)
    {
        args.insert(args.begin(), tool_program());
        return run_program(args, kind);
    }
};

TEST_F(command, wrong_argument_counts_get_the_usage)
{
    std::string a = dir.write("a.txt"), b = dir.write("b.txt"), c = dir.write("c.txt");
    const std::vector<std::vector<std::string>> cases = {{}, {a, b}, {a, b, c}};
    for (const auto &args : cases) {
        run_result r = kestrn(args);
        EXPECT_EQ(r.out, usage_text) << args.size() << " arguments";
        EXPECT_EQ(r.exit_code, 1) << args.size() << " arguments";
    }
}

TEST_F(command, verdicts)
{
    std::string free_file = dir.write("free.txt");
    std::string held_file = dir.write("held.txt");
    std::string spaced = dir.write("name with  blanks.txt");
    // Matches exactly one free file; expanded, it would be called free.
    std::string pattern = dir / "fre?.*";
    holder h({holder_program(), read_mode, held_file});
    ASSERT_TRUE(h.ready());

    const struct {
        std::string name;
        std::string out;
        int exit_code;
    } cases[] = {
        {free_file, free_text, 0},
        {spaced, free_text, 0},
        {held_file, locked_text, 1},
        {dir / "missing.txt", locked_text, 1},
        {dir.path().string(), locked_text, 1},
        {pattern, locked_text, 1},
    };
    for (const auto &c : cases) {
        run_result r = kestrn({c.name});
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt"));
}

// The same bytes, whatever standard output is.
TEST_F(command, output_to_a_file)
{
    std::string free_file = dir.write("free.txt");
    EXPECT_EQ(kestrn({free_file}, stdout_kind::file).out, free_text);
    EXPECT_EQ(kestrn({dir / "missing"}, stdout_kind::file).out, locked_text);
    EXPECT_EQ(kestrn({}, stdout_kind::file).out, usage_text);
}

TEST_F(command, free_when_the_verdict_arrives)
{
    std::string file = dir.write("free.txt");
    run_result r = kestrn({file});
    ASSERT_EQ(r.exit_code, 0);
    holder h({holder_program(), exclusive_mode, file});
    EXPECT_TRUE(h.ready()) << "the tool still held the file";
}

TEST_F(command, unwritable_stdout_leaves_the_exit_code_and_the_file_alone)
{
    std::string free_file = dir.write("free.txt", "free content\n");
    std::string held_file = dir.write("held.txt", "held content\n");
    holder h({holder_program(), read_mode, held_file});
    ASSERT_TRUE(h.ready());
    for (stdout_kind kind : {stdout_kind::closed, stdout_kind::broken_pipe}) {
        run_result r = kestrn({free_file}, kind);
        EXPECT_EQ(r.exit_code, 0);
        r = kestrn({held_file}, kind);
        EXPECT_EQ(r.exit_code, 1);
        r = kestrn({}, kind);
        EXPECT_EQ(r.exit_code, 1);
    }
#ifndef _WIN32
    EXPECT_EQ(kestrn({free_file}, stdout_kind::full_device).exit_code, 0);
    EXPECT_EQ(kestrn({held_file}, stdout_kind::full_device).exit_code, 1);
#endif
    EXPECT_EQ(read_file(free_file), "free content\n");
    EXPECT_EQ(read_file(held_file), "held content\n");
}

#ifndef _WIN32
// The tool's own inherited descriptors are opens like any other: a file
// handed to it as standard input is held, as cmd.exe's redirection holds it.
TEST_F(command, file_on_its_own_stdin_is_held)
{
    std::string file = dir.write("input.txt");
    run_result r =
        run_program({"/bin/sh", "-c", "exec \"$0\" \"$1\" < \"$1\"", tool_program(), file});
    EXPECT_EQ(r.out, locked_text);
    EXPECT_EQ(r.exit_code, 1);
}

TEST_F(command, fifo_answers_at_once)
{
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    run_result r = run_program({tool_program(), fifo}, stdout_kind::pipe, 3000);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, free_text);
    EXPECT_EQ(r.exit_code, 0);
}
#endif

} // namespace
