#include "proc_scan.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{

constexpr long proc_super_magic = 0x9fa0;

struct wanted_file {
    unsigned int major;
    unsigned int minor;
    unsigned long long ino;
};

bool all_digits(const char *s)
{
    if (*s == '\0')
        return false;
    for (; *s != '\0'; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

int to_fd_number(const char *s)
{
    return static_cast<int>(std::strtol(s, nullptr, 10));
}

// Calls visit(name) for every entry of an open /proc directory until it
// returns true. Reads with getdents64 into a stack buffer: no allocation.
template <std::size_t buffer_size = 16384, typename Visit> bool any_entry(int dir_fd, Visit visit)
{
    alignas(8) char buf[buffer_size];
    for (;;) {
        ssize_t n = getdents64(dir_fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        for (ssize_t at = 0; at < n;) {
            const auto *entry = reinterpret_cast<const struct dirent64 *>(buf + at);
            at += entry->d_reclen;
            if (visit(entry->d_name))
                return true;
        }
        // procfs fills the buffer until it is full or the directory ends, so
        // room left for one more entry means the end: skip the empty read.
        if (static_cast<size_t>(n) + sizeof(struct dirent64) <= sizeof buf)
            return false;
    }
}

bool fd_table_holds(int fd_dir, const wanted_file &want, bool is_self, int own_a, int own_b)
{
    return any_entry(fd_dir, [&](const char *name) {
        if (!all_digits(name))
            return false;
        if (is_self) {
            int fd = to_fd_number(name);
            if (fd == own_a || fd == own_b || fd == fd_dir)
                return false;
        }
        // AT_STATX_DONT_SYNC: the identity of a file on a network mount is
        // known locally; asking its server could hang on a dead mount.
        struct statx st;
        if (statx(fd_dir, name, AT_STATX_DONT_SYNC, STATX_INO, &st) != 0)
            return false; // closed meanwhile
        return st.stx_ino == want.ino && st.stx_dev_major == want.major &&
               st.stx_dev_minor == want.minor;
    });
}

// Lines of /proc/PID/maps read "start-end perms offset major:minor inode path";
// the device is in hex, the inode in decimal. Parsed as a byte stream so
// that a line split between two reads needs no copying.
bool maps_hold(int maps_fd, const wanted_file &want)
{
    alignas(8) char buf[65536];
    int field = 0;
    bool in_minor = false;
    unsigned long long major = 0;
    unsigned long long minor = 0;
    unsigned long long ino = 0;
    for (;;) {
        ssize_t n = read(maps_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (ssize_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (c == '\n' || (c == ' ' && field == 4)) {
                if (field == 4 && ino == want.ino && major == want.major && minor == want.minor)
                    return true;
                field = c == '\n' ? 0 : 5;
                in_minor = false;
                major = minor = ino = 0;
            } else if (field > 4) {
                continue; // the path, which may hold anything
            } else if (c == ' ') {
                ++field;
            } else if (field == 3) {
                if (c == ':') {
                    in_minor = true;
                } else {
                    unsigned digit = c >= 'a' ? unsigned(c - 'a' + 10) : unsigned(c - '0');
                    unsigned long long &part = in_minor ? minor : major;
                    part = part * 16 + digit;
                }
            } else if (field == 4) {
                ino = ino * 10 + unsigned(c - '0');
            }
        }
    }
}

bool process_holds(int proc_fd, const char *pid, const wanted_file &want, bool is_self, int own_a,
                   int own_b)
{
    char path[NAME_MAX + sizeof "/maps"];
    // Another user's process: EACCES here, and its maps are closed to us too.
    (void)std::snprintf(path, sizeof path, "%s/fd", pid);
    int fd_dir = openat(proc_fd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_dir < 0)
        return false;
    bool found = fd_table_holds(fd_dir, want, is_self, own_a, own_b);
    close(fd_dir);
    if (found)
        return true;

    // A mapping outlives the descriptor it was made from, and a running
    // program's image is mapped without any descriptor at all.
    (void)std::snprintf(path, sizeof path, "%s/maps", pid);
    int maps_fd = openat(proc_fd, path, O_RDONLY | O_CLOEXEC);
    if (maps_fd < 0)
        return false;
    found = maps_hold(maps_fd, want);
    close(maps_fd);
    return found;
}

// The scan is split between threads through the /proc listing itself:
// getdents64 calls on one shared descriptor are serialised by the kernel,
// and each call hands out the next batch of processes.
struct shared_scan {
    int proc_fd;
    const char *self;
    wanted_file want;
    int own_a;
    int own_b;
    std::atomic<bool> found{false};
};

void scan_share(shared_scan &scan)
{
    // Small batches keep the threads evenly loaded.
    any_entry<2048>(scan.proc_fd, [&](const char *name) {
        if (scan.found.load(std::memory_order_relaxed))
            return true; // another thread found a holder
        if (!all_digits(name) ||
            !process_holds(scan.proc_fd, name, scan.want, std::strcmp(name, scan.self) == 0,
                           scan.own_a, scan.own_b))
            return false;
        scan.found.store(true, std::memory_order_relaxed);
        return true;
    });
}

void *scan_thread(void *scan)
{
    scan_share(*static_cast<shared_scan *>(scan));
    return nullptr;
}

} // namespace

bool some_process_holds(const struct stat &file, int own_fd_a, int own_fd_b)
{
    int proc_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc_fd < 0)
        return true;
    // Something other than procfs over /proc (an empty tmpfs, say) would
    // show no processes and so no holders: that is not an answer.
    struct statfs fs;
    char self[32];
    ssize_t self_len;
    if (fstatfs(proc_fd, &fs) != 0 || fs.f_type != proc_super_magic ||
        (self_len = readlinkat(proc_fd, "self", self, sizeof self - 1)) <= 0) {
        close(proc_fd);
        return true;
    }
    self[self_len] = '\0';

    shared_scan scan{
        proc_fd,
        self,
        {major(file.st_dev), minor(file.st_dev), static_cast<unsigned long long>(file.st_ino)},
        own_fd_a,
        own_fd_b};
    // One helper thread: the scan is nothing but system calls, and a second
    // core nearly halves it. Without the helper the scan is the same, slower.
    pthread_t helper;
    pthread_attr_t attr;
    bool helped = false;
    if (sysconf(_SC_NPROCESSORS_ONLN) > 1 && pthread_attr_init(&attr) == 0) {
        helped = pthread_attr_setstacksize(&attr, std::size_t{256} * 1024) == 0 &&
                 pthread_create(&helper, &attr, scan_thread, &scan) == 0;
        pthread_attr_destroy(&attr);
    }
    scan_share(scan);
    if (helped)
        pthread_join(helper, nullptr);
    close(proc_fd);
    return scan.found.load();
}
