// How the Windows tool takes its command line and where its output goes,
// with the exact command lines that cmd.exe or a script would hand over.
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/texts.h"

#include <gtest/gtest.h>

namespace
{

class windows_command : public ::testing::Test
{
protected:
    temp_dir dir;
    std::string tool = "\"" + tool_program() + "\"";
};

TEST_F(windows_command, raw_command_lines)
{
    std::string free_file = dir.write("free.txt");
    std::string other = dir.write("other.txt");
    dir.write("name with blanks.txt");
    // What follows the program name, blanks and tabs included.
    const struct {
        std::string arguments;
        const std::string &out;
        int exit_code;
    } cases[] = {
        {"", usage_text, 1},
        {" \t ", usage_text, 1},
        {" " + free_file + "\t" + other, usage_text, 1},
        {" \t " + free_file + " \t", free_text, 0},
        {" \"" + (dir / "name with blanks.txt") + "\"", free_text, 0},
        {" \"\"", locked_text, 1},
        // Matches free.txt and nothing else: expanded, it would say free.
        {" " + (dir / "fre?.*"), locked_text, 1},
        {" " + (dir / "*"), locked_text, 1},
    };
    for (const auto &c : cases) {
        run_result r = run_command_line(tool + c.arguments);
        EXPECT_EQ(r.out, c.out) << "arguments: [" << c.arguments << "]";
        EXPECT_EQ(r.exit_code, c.exit_code) << "arguments: [" << c.arguments << "]";
    }
}

TEST_F(windows_command, no_stdout_handle_leaves_the_exit_code)
{
    std::string free_file = dir.write("free.txt");
    EXPECT_EQ(run_command_line(tool + " " + free_file, stdout_kind::closed).exit_code, 0);
    EXPECT_EQ(run_command_line(tool + " " + (dir / "missing"), stdout_kind::closed).exit_code, 1);
    EXPECT_EQ(run_command_line(tool, stdout_kind::closed).exit_code, 1);
}

TEST_F(windows_command, batch_file_branches_on_errorlevel)
{
    std::string script = dir.write("check.cmd", "@echo off\r\n"
                                                "\"" +
                                                    tool_program() +
                                                    "\" %1 > nul\r\n"
                                                    "IF ERRORLEVEL 1 GOTO busy\r\n"
                                                    "echo FREE\r\n"
                                                    "exit /b 0\r\n"
                                                    ":busy\r\n"
                                                    "echo BUSY\r\n");
    std::string free_file = dir.write("free.txt");
    std::string held_file = dir.write("held.txt");
    holder h({holder_program(), "r:rw", held_file});
    ASSERT_TRUE(h.ready());
    EXPECT_EQ(run_command_line("cmd.exe /c " + script + " " + free_file).out, "FREE\r\n");
    EXPECT_EQ(run_command_line("cmd.exe /c " + script + " " + held_file).out, "BUSY\r\n");
    EXPECT_EQ(run_command_line("cmd.exe /c " + script + " " + (dir / "missing")).out, "BUSY\r\n");
}

} // namespace
