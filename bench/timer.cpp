// timer N COMMAND [ARGS...]: runs COMMAND N times, one after the other,
// with standard output and error on /dev/null, and prints for each run its
// wall time in nanoseconds, its peak resident memory in KiB and its exit
// status. A small native program, so that neither the interpreter that
// drives the benchmark nor its memory shows in the figures.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: timer N COMMAND [ARGS...]\n");
        return 2;
    }
    int runs = std::atoi(argv[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    for (int i = 0; i < runs; ++i) {
        struct rusage usage;
        int status;
        pid_t pid;
        auto start = std::chrono::steady_clock::now();
        if (posix_spawn(&pid, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
            std::perror(argv[2]);
            return 1;
        }
        wait4(pid, &status, 0, &usage);
        auto elapsed = std::chrono::steady_clock::now() - start;
        long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
        std::printf("%lld %ld %d\n", ns, usage.ru_maxrss,
                    WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return 0;
}
