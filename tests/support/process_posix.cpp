#include "process.h"
#include "temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using clock_type = std::chrono::steady_clock;

[[noreturn]] void exec_child(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    // Whatever the test runner does with SIGPIPE, the child starts clean.
    std::signal(SIGPIPE, SIG_DFL);
    execv(args[0], args.data());
    _exit(127);
}

int wait_exit(pid_t pid, clock_type::time_point deadline, bool *timed_out)
{
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            return -1;
        if (clock_type::now() > deadline && !*timed_out) {
            *timed_out = true;
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

run_result run_program(const std::vector<std::string> &argv, stdout_kind kind, int timeout_ms)
{
    run_result result;
    int out[2];
    if (pipe(out) != 0)
        return result;
    if (kind == stdout_kind::broken_pipe) {
        close(out[0]);
        out[0] = -1;
    }
    char out_file[] = "/tmp/kestrn-stdout-XXXXXX";
    int file_fd = -1;
    if (kind == stdout_kind::file) {
        file_fd = mkstemp(out_file);
        if (file_fd < 0)
            return result;
    } else if (kind == stdout_kind::full_device) {
        file_fd = open("/dev/full", O_WRONLY);
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (kind == stdout_kind::closed)
            close(STDOUT_FILENO);
        else
            dup2(file_fd >= 0 ? file_fd : out[1], STDOUT_FILENO);
        exec_child(argv);
    }
    close(out[1]);
    if (file_fd >= 0)
        close(file_fd);
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    if (out[0] >= 0) {
        char buf[4096];
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
            struct pollfd p = {out[0], POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) {
                result.timed_out = true;
                kill(pid, SIGKILL);
                break;
            }
            ssize_t n = read(out[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            result.out.append(buf, static_cast<size_t>(n));
        }
        close(out[0]);
    }
    result.exit_code = wait_exit(pid, deadline, &result.timed_out);
    if (result.timed_out)
        result.exit_code = -1;
    if (kind == stdout_kind::file) {
        result.out = read_file(out_file);
        unlink(out_file);
    }
    return result;
}

holder::holder(const std::vector<std::string> &argv)
{
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[1]);
        close(out[0]);
        exec_child(argv);
    }
    close(in[0]);
    close(out[1]);
    pid_ = pid;
    stdin_ = in[1];
    stdout_ = out[0];
    std::string line;
    char c;
    struct pollfd p = {out[0], POLLIN, 0};
    while (line.size() < 64 && poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ready_ = line == "ready";
}

std::string holder::release()
{
    if (pid_ < 0)
        return "";
    close(static_cast<int>(stdin_));
    std::string rest;
    char buf[256];
    struct pollfd p = {static_cast<int>(stdout_), POLLIN, 0};
    ssize_t n;
    while (poll(&p, 1, 10000) > 0 && (n = read(static_cast<int>(stdout_), buf, sizeof buf)) > 0)
        rest.append(buf, static_cast<size_t>(n));
    close(static_cast<int>(stdout_));
    bool timed_out = false;
    wait_exit(static_cast<pid_t>(pid_), clock_type::now() + std::chrono::seconds(10), &timed_out);
    pid_ = -1;
    return rest;
}

holder::~holder()
{
    release();
}
