// Test helper: holds a file the way a real program would, says "ready",
// and keeps holding it until its standard input reaches end of file.
//   kestrn_holder MODE FILE
// MODE: read, write, readwrite, map (mapped, descriptor closed), flock
// (shared flock), posix-lock / ofd-lock (a read lock on bytes 10-19),
// lease (an exclusive write lease: fails if anyone else has the file open),
// idle (holds nothing: only the running program itself).
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

static int fail(const char *what)
{
    std::perror(what);
    std::puts("failed");
    return 2;
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return fail("usage: kestrn_holder MODE FILE");
    const char *mode = argv[1];
    const char *file = argv[2];
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
