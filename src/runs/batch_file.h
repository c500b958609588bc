#pragma once

#include <QString>

namespace runs {

// The list or the output of a batch run: a file by its path, or this
// process's standard input or output, which the command line names "-".
struct BatchFile {
    QString path;
    bool standardStream = false;
};

}  // namespace runs
