#pragma once

#include <QString>

namespace platform {

// The program writes paths with the other system's folder separator, the
// backslash ("C:\\Tools" + "\\MSINFO32.EXE"); here it is the slash. A
// doubled separator names the same folder, as it does there.
inline QString LocalPath(QString path) { return path.replace(QLatin1Char('\\'), QLatin1Char('/')); }

}  // namespace platform
