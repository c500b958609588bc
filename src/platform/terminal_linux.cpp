#include "platform/terminal.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool StandardOutputSharesTerminal()
{
    struct stat out {};
    struct stat err {};
    return StandardOutputIsTerminal() && StandardErrorIsTerminal() && ::fstat(STDOUT_FILENO, &out) == 0 &&
           ::fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

}  // namespace platform
