#include "process.h"

// Build-tree paths, handed in by the build. Under Wine they name the same
// files through the drive that maps the Unix root.
static std::string native_path(std::string path)
{
#ifdef _WIN32
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char &c : path)
        if (c == '/')
            c = '\\';
#endif
    return path;
}

std::string tool_program()
{
    return native_path(KESTRN_TOOL_PATH);
}

std::string holder_program()
{
    return native_path(KESTRN_HOLDER_PATH);
}
