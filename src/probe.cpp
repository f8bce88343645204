#include "probe.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "posix/win32_file.h"
#endif

bool probe_exclusive_open(const char *file_name)
{
    HANDLE file =
        CreateFileA(file_name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}
