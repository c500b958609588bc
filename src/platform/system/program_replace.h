#pragma once

#include <string>

namespace platform {

// Runs the program at path in place of this one (same process, same
// environment and descriptors), with argv as it is: argv[0] included,
// which names the program to Qt and, on X11, its window class. The path is
// run as given, never looked up on PATH. Returns only when the program
// could not be run, with the errno that says why.
int ReplaceProgram(const std::string& path, char** argv);

}  // namespace platform
