// Test helper: holds a file the way a Windows program would, says "ready",
// and keeps holding it until its standard input reaches end of file.
//   kestrn_holder ACCESS:SHARE FILE
// ACCESS: r, w or rw. SHARE: what it lets others do: none, r, rw or rwd.
//   kestrn_holder idle FILE: holds nothing but its own running image.
//   kestrn_holder churn FILE: opens (sharing read and write) and closes the
//   file in a loop until told to stop, then reports what it saw.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

static int fail(const char *what)
{
    std::printf("failed: %s (%lu)\n", what, GetLastError());
    return 2;
}

static bool told_to_stop()
{
    DWORD available = 0;
    return !PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available,
                          nullptr) ||
           available > 0;
}

static int churn(const char *file)
{
    long opens = 0, busy = 0;
    std::puts("ready");
    std::fflush(stdout);
    while (!told_to_stop()) {
        HANDLE h = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ++busy; // the probe held it, sharing nothing
        } else {
            ++opens;
            CloseHandle(h);
        }
    }
    std::printf("opens=%ld busy=%ld failures=0\n", opens, busy);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return fail("usage: kestrn_holder ACCESS:SHARE FILE");
    const char *mode = argv[1];
    if (std::strcmp(mode, "churn") == 0)
        return churn(argv[2]);
    if (std::strcmp(mode, "idle") != 0) {
        const char *colon = std::strchr(mode, ':');
        if (colon == nullptr)
            return fail(mode);
        std::string access_text(mode, colon), share_text(colon + 1);
        DWORD access = 0, share = 0;
        if (access_text.find('r') != std::string::npos)
            access |= GENERIC_READ;
        if (access_text.find('w') != std::string::npos)
            access |= GENERIC_WRITE;
        if (share_text != "none") {
            if (share_text.find('r') != std::string::npos)
                share |= FILE_SHARE_READ;
            if (share_text.find('w') != std::string::npos)
                share |= FILE_SHARE_WRITE;
            if (share_text.find('d') != std::string::npos)
                share |= FILE_SHARE_DELETE;
        }
        HANDLE file = CreateFileA(argv[2], access, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return fail(argv[2]);
    }
    std::puts("ready");
    std::fflush(stdout);
    char buf[64];
    DWORD got;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr) && got > 0) {
    }
    return 0;
}
