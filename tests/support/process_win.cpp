#include "process.h"
#include "temp_dir.h"

#include <windows.h>

namespace
{

// Quoting that the C runtime's splitting undoes exactly.
std::string quote(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

std::string command_line_of(const std::vector<std::string> &argv)
{
    std::string line;
    for (const auto &arg : argv)
        line += (line.empty() ? "" : " ") + quote(arg);
    return line;
}

HANDLE to_handle(long long value)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

// Starts a process with the given standard handles; they must be inheritable.
HANDLE start(std::string command_line, HANDLE in, HANDLE out)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

// A pipe whose one end (the child's) is inheritable and the other is not.
bool make_pipe(HANDLE *read_end, HANDLE *write_end, bool child_reads)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    if (!CreatePipe(read_end, write_end, &sa, 0))
        return false;
    SetHandleInformation(child_reads ? *write_end : *read_end, HANDLE_FLAG_INHERIT, 0);
    return true;
}

} // namespace

run_result run_command_line(const std::string &command_line, stdout_kind kind, int timeout_ms)
{
    run_result result;
    HANDLE read_end = nullptr, write_end = nullptr;
    char out_file[MAX_PATH] = "";
    if (kind == stdout_kind::file) {
        char dir[MAX_PATH];
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        if (!GetTempPathA(sizeof dir, dir) || !GetTempFileNameA(dir, "kst", 0, out_file))
            return result;
        write_end = CreateFileA(out_file, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (write_end == INVALID_HANDLE_VALUE)
            return result;
    } else if (kind != stdout_kind::closed && !make_pipe(&read_end, &write_end, false)) {
        return result;
    }
    if (kind == stdout_kind::broken_pipe) {
        CloseHandle(read_end);
        read_end = nullptr;
    }
    HANDLE process = start(command_line, GetStdHandle(STD_INPUT_HANDLE), write_end);
    if (write_end != nullptr)
        CloseHandle(write_end);
    if (process == nullptr) {
        if (read_end != nullptr)
            CloseHandle(read_end);
        return result;
    }
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeout_ms);
    for (bool exited = false;;) {
        DWORD available = 0;
        if (read_end != nullptr &&
            PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buf[4096];
            DWORD got = 0;
            if (ReadFile(read_end, buf, sizeof buf, &got, nullptr))
                result.out.append(buf, got);
            continue;
        }
        if (exited)
            break; // drained after the exit
        if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
            result.timed_out = true;
            TerminateProcess(process, 255);
            break;
        }
        exited = WaitForSingleObject(process, 2) == WAIT_OBJECT_0;
    }
    WaitForSingleObject(process, 5000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    result.exit_code = result.timed_out ? -1 : static_cast<int>(code);
    CloseHandle(process);
    if (read_end != nullptr)
        CloseHandle(read_end);
    if (kind == stdout_kind::file) {
        result.out = read_file(out_file);
        DeleteFileA(out_file);
    }
    return result;
}

run_result run_program(const std::vector<std::string> &argv, stdout_kind kind, int timeout_ms)
{
    return run_command_line(command_line_of(argv), kind, timeout_ms);
}

holder::holder(const std::vector<std::string> &argv)
{
    HANDLE in_read, in_write, out_read, out_write;
    if (!make_pipe(&in_read, &in_write, true))
        return;
    if (!make_pipe(&out_read, &out_write, false)) {
        CloseHandle(in_read);
        CloseHandle(in_write);
        return;
    }
    HANDLE process = start(command_line_of(argv), in_read, out_write);
    CloseHandle(in_read);
    CloseHandle(out_write);
    if (process == nullptr) {
        CloseHandle(in_write);
        CloseHandle(out_read);
        return;
    }
    pid_ = static_cast<long long>(reinterpret_cast<intptr_t>(process));
    stdin_ = static_cast<long long>(reinterpret_cast<intptr_t>(in_write));
    stdout_ = static_cast<long long>(reinterpret_cast<intptr_t>(out_read));
    std::string line;
    char c;
    DWORD got;
    while (line.size() < 64 && ReadFile(out_read, &c, 1, &got, nullptr) && got == 1 && c != '\n')
        if (c != '\r') // the holder writes in text mode
            line += c;
    ready_ = line == "ready";
}

std::string holder::release()
{
    if (pid_ < 0)
        return "";
    CloseHandle(to_handle(stdin_));
    std::string rest;
    char buf[256];
    DWORD got;
    while (ReadFile(to_handle(stdout_), buf, sizeof buf, &got, nullptr) && got > 0)
        rest.append(buf, got);
    CloseHandle(to_handle(stdout_));
    HANDLE process = to_handle(pid_);
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process, 255);
    CloseHandle(process);
    pid_ = -1;
    return rest;
}

holder::~holder()
{
    release();
}
