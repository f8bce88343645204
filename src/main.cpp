// Kestrn FILE: can FILE be opened, right now, with exclusive access?
// Exit status 0: yes, nobody else has it open. 1: no (held, missing or
// unopenable), or the command line was not exactly one file name.

#include "probe.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
// Never expand * and ? in arguments: an expanded pattern would probe some
// other file and could call it free.
extern "C" {
int _dowildcard = 0;
}
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

// Line ends are spelt out, so the stream must pass bytes through untouched.
const char banner[] = "\r\nKestrane 1.00";
const char line_end[] = "\r\n";
const char usage[] = "Usage: Kestrn <filename>\r\n";
const char locked_or_missing[] =
    "\r\nKestrane: The file does not exist or is locked by another process\r\n";
const char not_locked[] = "\r\nKestrane: The file is not locked\r\n";

bool stdout_open = true;

void prepare_stdout()
{
    // Every message is flushed at once anyway: without a buffer the stream
    // needs no allocation and no probing of the descriptor at first use.
    (void)std::setvbuf(stdout, nullptr, _IONBF, 0);
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#else
    // A reader that went away must not decide the exit status.
    (void)std::signal(SIGPIPE, SIG_IGN);
    // With descriptor 1 closed, the probe's own open may land on it: never
    // write through a descriptor that we did not inherit as standard output.
    stdout_open = fcntl(STDOUT_FILENO, F_GETFD) != -1;
#endif
}

// A message that cannot be written is dropped: the exit status carries the verdict.
void say(const char *text)
{
    if (!stdout_open)
        return;
    (void)std::fputs(text, stdout);
    (void)std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    prepare_stdout();
    if (argc != 2) {
        say(banner);
        say(line_end);
        say(usage);
        return 1;
    }
    if (!probe_exclusive_open(argv[1])) {
        say(locked_or_missing);
        return 1;
    }
    say(not_locked);
    return 0;
}
