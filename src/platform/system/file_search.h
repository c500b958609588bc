#pragma once

#include "platform/seam.h"

#include <QString>

namespace platform {

// The search for a file by its exact name: no patterns, normal files only
// (no folders, devices or hidden files); a link counts as what it points to.
class FileSearch {
public:
    virtual ~FileSearch() = default;
    // The file's name without its folder when it exists, else empty text.
    virtual QString find(const QString& path) = 0;
};

inline QString FindFile(const QString& path) { return use<FileSearch>().find(path); }

}  // namespace platform
