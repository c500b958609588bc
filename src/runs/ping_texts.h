#pragma once

#include <QString>

namespace runs {

// The request data of every echo.
inline const QString kRequestData = QStringLiteral("ECHO THIS");

// Shown for a host whose Windows Sockets start-up failed.
inline const QString kSocketsNotResponding =
    QStringLiteral("Windows Sockets for 32 bit Windows is not successfully responding.");

}  // namespace runs
