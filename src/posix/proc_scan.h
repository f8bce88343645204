#ifndef KESTRN_POSIX_PROC_SCAN_H
#define KESTRN_POSIX_PROC_SCAN_H

#include <sys/stat.h>

// Looks through /proc for a process that has the file open or mapped.
// Descriptors own_fd_a and own_fd_b of this process are the caller's own
// and do not count. Returns true when a holder was found, and also when
// /proc cannot be read: a file that could not be checked is never free.
// Processes this user may not inspect are passed over unseen.
bool some_process_holds(const struct stat &file, int own_fd_a, int own_fd_b);

#endif
