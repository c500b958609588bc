#include "platform/system/program_replace.h"

#include <cerrno>

#include <unistd.h>

namespace platform {

int ReplaceProgram(const std::string& path, char** argv)
{
    ::execv(path.c_str(), argv);
    return errno;
}

}  // namespace platform
