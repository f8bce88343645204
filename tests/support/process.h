#ifndef KESTRN_TESTS_PROCESS_H
#define KESTRN_TESTS_PROCESS_H

#include <string>
#include <vector>

// Running the tool and the holders as real processes, the same way on
// every platform. argv[0] is the program to start.

enum class stdout_kind {
    pipe,        // captured
    closed,      // the child starts with no standard output at all
    broken_pipe, // a pipe whose reading end is already gone
    file,        // a fresh file, read back into run_result::out afterwards
#ifndef _WIN32
    full_device, // /dev/full: every write fails with ENOSPC
#endif
};

struct run_result {
    int exit_code = -1; // -1: killed by a signal or timed out
    bool timed_out = false;
    std::string out;
};

run_result run_program(const std::vector<std::string> &argv, stdout_kind kind = stdout_kind::pipe,
                       int timeout_ms = 10000);

#ifdef _WIN32
// The command line handed over exactly as given, for the tests of how the
// tool splits it.
run_result run_command_line(const std::string &command_line, stdout_kind kind = stdout_kind::pipe,
                            int timeout_ms = 10000);
#endif

// A process that holds a file (or just runs) until it is destroyed.
// It reports "ready" once it holds what it was asked to.
class holder
{
public:
    explicit holder(const std::vector<std::string> &argv);
    ~holder();
    holder(const holder &) = delete;
    holder &operator=(const holder &) = delete;
    bool ready() const { return ready_; }
    // Ends the holder, waits for it, and returns what it wrote after "ready".
    std::string release();

private:
    bool ready_ = false;
    long long pid_ = -1; // a process id or a Windows process handle
    long long stdin_ = -1;
    long long stdout_ = -1;
};

// The program that the holders run (see holder_*.cpp).
std::string holder_program();
// The tool under test.
std::string tool_program();

#endif
