#include "app/command_line.h"
#include "app/window_program.h"
#include "programs/standard_streams.h"

#include <optional>

// The program: with options, a run on the command line; without, the
// window, which is a program of its own so that this one links no window
// system (it starts sooner, and a scheduled run loads no GUI libraries).
int main(int argc, char** argv)
{
    programs::openClosedStandardStreams();
    if (const std::optional<int> exitCode = RunWithoutWindow(argc, argv))
        return *exitCode;
    return OpenWindowProgram(argv);
}
