#pragma once

#include <string>

namespace programs {

// The file of another program of Quorvex's that this one runs: the one
// built beside it while this program runs from the build tree, so that a
// build never runs an older installed copy, otherwise the one the package
// installs. Both paths are absolute and compiled in; no PATH search, which
// would let whoever sets PATH choose the program.
std::string pathToRun(const char* builtPath, const char* installedPath);

}  // namespace programs
