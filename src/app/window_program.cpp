#include "app/window_program.h"

#include "platform/system/program_replace.h"
#include "programs/program_path.h"

#include <cstdio>
#include <cstring>
#include <string>

int OpenWindowProgram(char** argv)
{
    const std::string path = programs::pathToRun(QUORVEX_BUILT_WINDOW, QUORVEX_INSTALLED_WINDOW);
    const int error = platform::ReplaceProgram(path, argv);
    std::fprintf(stderr, "quorvex: cannot open the window: %s: %s\n", path.c_str(), std::strerror(error));
    return 2;
}
