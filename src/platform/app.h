#pragma once

#include <QString>

namespace platform {

// The application object: the title and version numbers that the windows
// show. They come from the build, so they cannot drift from the package.
struct Application {
    QString Title;
    int Major;
    int Minor;
    int Revision;
};

const Application& App();

}  // namespace platform
