#pragma once

#include <QString>

namespace runs {

// The list or the output of a batch run: a file by its path, or this
// process's standard input or output, which the command line names "-".
struct BatchFile {
    QString path;
    bool standardStream = false;
    // An output that takes the old file's place only when the run has done
    // its work (the command line's); the window replaces it at the start.
    bool replaceWhenDone = false;
};

}  // namespace runs
