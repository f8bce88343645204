#ifndef KESTRN_POSIX_WIN32_FILE_H
#define KESTRN_POSIX_WIN32_FILE_H

// The two Windows file calls that the probe makes, for POSIX systems.
// Only the one open the probe asks for is implemented: read access, no
// sharing, open an existing file. Any other parameters are refused.

#include <cstddef>
#include <cstdint>

typedef void *HANDLE;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef const char *LPCSTR;
// Never looked into: the probe passes none.
typedef struct security_attributes *LPSECURITY_ATTRIBUTES;

// A handle is a file descriptor in disguise, so -1 maps onto the failure value.
#define INVALID_HANDLE_VALUE ((HANDLE)(std::intptr_t)-1)
#define GENERIC_READ 0x80000000U
#define OPEN_EXISTING 3U
#define FILE_ATTRIBUTE_NORMAL 0x80U

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);
BOOL CloseHandle(HANDLE object);

#endif
