#pragma once

#include "platform/seam.h"

#include <QString>

#include <cstdint>

namespace platform {

// Window styles of a started program.
namespace window_style {
inline constexpr int Hide = 0;
inline constexpr int NormalFocus = 1;
}  // namespace window_style

// Starts another program as a process of its own and returns at once,
// without waiting for it. The path is the program itself, run directly
// and never handed to a shell, so blanks and shell characters in it are
// part of the name. Throws RuntimeError when the program cannot be
// started: an empty path, a missing file, a file that cannot be run.
// Returns the task identifier of the new process.
class ProgramStart {
public:
    virtual ~ProgramStart() = default;
    virtual std::int64_t start(const QString& path, int windowStyle) = 0;
};

inline std::int64_t StartProgram(const QString& path, int windowStyle)
{
    return use<ProgramStart>().start(path, windowStyle);
}

}  // namespace platform
