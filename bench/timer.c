/* timer N COMMAND [ARGS...]: runs COMMAND N times, one after the other,
 * with standard output and error on /dev/null, and prints for each run its
 * wall time in nanoseconds, its peak resident memory in KiB and its exit
 * status. A small C program, so that neither the interpreter that drives
 * the benchmark nor its memory shows in the figures. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: timer N COMMAND [ARGS...]\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    for (int i = 0; i < runs; ++i) {
        struct timespec start, end;
        struct rusage usage;
        int status;
        pid_t pid;
        clock_gettime(CLOCK_MONOTONIC, &start);
        if (posix_spawn(&pid, argv[2], &actions, NULL, argv + 2, environ) != 0) {
            perror(argv[2]);
            return 1;
        }
        wait4(pid, &status, 0, &usage);
        clock_gettime(CLOCK_MONOTONIC, &end);
        long long ns = (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
        printf("%lld %ld %d\n", ns, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return 0;
}
