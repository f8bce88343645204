#include "win32_file.h"

#include "proc_scan.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

enum class lease_answer { granted, refused, unavailable };

HANDLE to_handle(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens for reading the very inode that path_fd looked up, not whatever
// the name points at by now. O_NONBLOCK keeps the open from waiting on
// another holder's lease; such a holder has the file open, so failing is
// the right answer.
int reopen_for_reading(int path_fd, const char *name, const struct stat &looked_up)
{
    const int flags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    char self_link[40];
    (void)std::snprintf(self_link, sizeof self_link, "/proc/self/fd/%d", path_fd);
    int fd = open(self_link, flags);
    if (fd < 0 && errno == ENOENT)
        fd = open(name, flags); // no /proc: the identity check below still holds
    if (fd < 0)
        return -1;
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !same_file(opened, looked_up) || !S_ISREG(opened.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// The kernel grants a write lease only when no other open file description
// of the file exists anywhere: readers, writers, mappings and running
// programs all count. That is the exclusive open.
lease_answer try_write_lease(int fd)
{
    // Another opener arriving while the lease stands makes the kernel send
    // the lease holder SIGIO, whose default action would end the process.
    struct sigaction ignore = {};
    struct sigaction saved;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGIO, &ignore, &saved);
    int rc = fcntl(fd, F_SETLEASE, F_WRLCK);
    int err = errno;
    if (rc == 0)
        fcntl(fd, F_SETLEASE, F_UNLCK);
    sigaction(SIGIO, &saved, nullptr);

    if (rc == 0)
        return lease_answer::granted;
    // EAGAIN: another open (or lease) exists. Anything else, chiefly EACCES
    // (neither owner nor CAP_LEASE) and EINVAL (file system without leases,
    // or leases disabled), says nothing about other openers.
    return err == EAGAIN ? lease_answer::refused : lease_answer::unavailable;
}

// Advisory locks are the one kind of holder that other users and other
// machines (on a network file system) cannot hide from us.
bool advisory_lock_held(int fd)
{
    // An OFD query from our own fresh description conflicts with every
    // byte-range lock, POSIX or OFD, that anybody holds.
    struct flock query = {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &query) != 0 || query.l_type != F_UNLCK)
        return true;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        flock(fd, LOCK_UN);
        return false;
    }
    // EBADF: NFS emulates flock with byte-range locks, which need write
    // access for LOCK_EX; those locks were already covered by the query.
    return errno != EBADF;
}

bool regular_file_is_free(int path_fd, const char *name, const struct stat &st, int *out_fd)
{
    int fd = reopen_for_reading(path_fd, name, st);
    if (fd < 0)
        return false;
    bool is_free = false;
    switch (try_write_lease(fd)) {
    case lease_answer::granted:
        is_free = true;
        break;
    case lease_answer::refused:
        break;
    case lease_answer::unavailable:
        is_free = !advisory_lock_held(fd) && !some_process_holds(st, fd, path_fd);
        break;
    }
    if (!is_free) {
        close(fd);
        return false;
    }
    *out_fd = fd;
    return true;
}

} // namespace

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file)
{
    if (file_name == nullptr || desired_access != GENERIC_READ || share_mode != 0 ||
        security_attributes != nullptr || creation_disposition != OPEN_EXISTING ||
        flags_and_attributes != FILE_ATTRIBUTE_NORMAL || template_file != nullptr)
        return INVALID_HANDLE_VALUE;

    // O_PATH finds the file without opening it: no FIFO to block on, no
    // terminal to acquire, no device driver to wake.
    int path_fd = open(file_name, O_PATH | O_CLOEXEC);
    if (path_fd < 0)
        return INVALID_HANDLE_VALUE;
    struct stat st;
    if (fstat(path_fd, &st) != 0) {
        close(path_fd);
        return INVALID_HANDLE_VALUE;
    }

    if (S_ISREG(st.st_mode)) {
        int fd = -1;
        bool is_free = regular_file_is_free(path_fd, file_name, st, &fd);
        close(path_fd);
        return is_free ? to_handle(fd) : INVALID_HANDLE_VALUE;
    }
    // Windows refuses this open of a directory. FIFOs, devices and sockets
    // are never opened: they are free when this user may read them and no
    // process is seen holding them.
    if (S_ISDIR(st.st_mode) || faccessat(AT_FDCWD, file_name, R_OK, AT_EACCESS) != 0 ||
        some_process_holds(st, path_fd, -1)) {
        close(path_fd);
        return INVALID_HANDLE_VALUE;
    }
    return to_handle(path_fd);
}

BOOL CloseHandle(HANDLE object)
{
    if (object == INVALID_HANDLE_VALUE)
        return 0;
    return close(static_cast<int>(reinterpret_cast<std::intptr_t>(object))) == 0;
}
