#include "platform/system/file_search.h"

#include "platform/system/local_path.h"

#include <QFileInfo>

namespace platform {
namespace {

class LocalFileSearch final : public FileSearch {
public:
    QString find(const QString& path) override
    {
        if (path.isEmpty())
            return {};
        const QFileInfo file(LocalPath(path));
        if (!file.isFile() || file.isHidden())
            return {};
        return file.fileName();
    }
};

}  // namespace

template <>
FileSearch& realImplementation<FileSearch>()
{
    static LocalFileSearch search;
    return search;
}

}  // namespace platform
