// Test helper: holds a file the way a real program would, says "ready",
// and keeps holding it until its standard input reaches end of file.
//   kestrn_holder MODE FILE
// MODE: read, write, readwrite, map (mapped, descriptor closed), flock
// (shared flock), posix-lock / ofd-lock (a read lock on bytes 10-19),
// lease (an exclusive write lease: fails if anyone else has the file open),
// idle (holds nothing: only the running program itself).
// Openers that never stop until told to, then report on what they saw:
// churn / churn-nonblock (open and close in a loop, blocking or not),
// rewrite (replace by rename, truncate and rewrite, delete and recreate).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

static int fail(const char *what)
{
    std::perror(what);
    std::puts("failed");
    return 2;
}

static bool told_to_stop()
{
    struct pollfd p = {STDIN_FILENO, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

static int churn(const char *file, bool nonblocking)
{
    using clock = std::chrono::steady_clock;
    long opens = 0, busy = 0, failures = 0;
    long long max_wait_us = 0;
    std::puts("ready");
    std::fflush(stdout);
    while (!told_to_stop()) {
        auto start = clock::now();
        int fd = open(file, O_RDONLY | (nonblocking ? O_NONBLOCK : 0));
        auto waited = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start);
        max_wait_us = std::max(max_wait_us, static_cast<long long>(waited.count()));
        if (fd >= 0) {
            ++opens;
            close(fd);
        } else if (nonblocking && errno == EWOULDBLOCK) {
            ++busy; // the probe's lease stood at that instant
        } else {
            ++failures;
        }
    }
    std::printf("opens=%ld busy=%ld failures=%ld max_wait_us=%lld\n", opens, busy, failures,
                max_wait_us);
    return 0;
}

static bool write_all(const std::string &file, const std::string &text, int flags)
{
    int fd = open(file.c_str(), O_WRONLY | flags, 0644);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && ok;
}

static int rewrite(const std::string &file)
{
    long generation = 0, failures = 0;
    std::puts("ready");
    std::fflush(stdout);
    while (!told_to_stop()) {
        ++generation;
        std::string text = "generation " + std::to_string(generation) + "\n";
        bool ok = false;
        switch (generation % 3) {
        case 0:
            ok = write_all(file + ".new", text, O_CREAT | O_TRUNC) &&
                 rename((file + ".new").c_str(), file.c_str()) == 0;
            break;
        case 1:
            ok = write_all(file, text, O_TRUNC);
            break;
        case 2:
            ok = unlink(file.c_str()) == 0 && write_all(file, text, O_CREAT | O_EXCL);
            break;
        }
        failures += ok ? 0 : 1;
    }
    std::printf("generation=%ld failures=%ld\n", generation, failures);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return fail("usage: kestrn_holder MODE FILE");
    const char *mode = argv[1];
    const char *file = argv[2];
    if (std::strcmp(mode, "churn") == 0 || std::strcmp(mode, "churn-nonblock") == 0)
        return churn(file, mode[5] == '-');
    if (std::strcmp(mode, "rewrite") == 0)
        return rewrite(file);
    int fd = -1;
    if (std::strcmp(mode, "idle") != 0) {
        int flags = std::strcmp(mode, "write") == 0       ? O_WRONLY
                    : std::strcmp(mode, "readwrite") == 0 ? O_RDWR
                                                          : O_RDONLY;
        // A FIFO opened read-write does not wait for a peer.
        fd = open(file, flags | O_NONBLOCK);
        if (fd < 0)
            return fail(file);
    }
    if (std::strcmp(mode, "map") == 0) {
        if (mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED)
            return fail("mmap");
        close(fd);
    } else if (std::strcmp(mode, "flock") == 0) {
        if (flock(fd, LOCK_SH) != 0)
            return fail("flock");
    } else if (std::strcmp(mode, "lease") == 0) {
        if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0)
            return fail("lease");
    } else if (std::strcmp(mode, "posix-lock") == 0 || std::strcmp(mode, "ofd-lock") == 0) {
        struct flock lock = {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 10;
        lock.l_len = 10;
        if (fcntl(fd, mode[0] == 'p' ? F_SETLK : F_OFD_SETLK, &lock) != 0)
            return fail("fcntl lock");
    }
    std::puts("ready");
    std::fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
}
