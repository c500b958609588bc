#include "platform/forms/file_path_box.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace platform {
namespace {

// Only the path is taken, so the drag must never end as a move: a file
// manager that hears "moved" may delete its own copy.
bool acceptAsCopy(QDropEvent* event)
{
    if (!event->mimeData() || DroppedFilePath(*event->mimeData()).isEmpty())
        return false;
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (event->possibleActions() & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
}

}  // namespace

QString DroppedFilePath(const QMimeData& data)
{
    const QList<QUrl> urls = data.urls();
    if (urls.size() != 1 || !urls.front().isLocalFile() || !urls.front().host().isEmpty())
        return {};
    const QString path = urls.front().toLocalFile();
    // A name that is not valid UTF-8 comes out with replacement characters,
    // which would name another file.
    const QByteArray bytes = QByteArray::fromPercentEncoding(urls.front().path(QUrl::FullyEncoded).toLatin1());
    if (QFile::encodeName(path) != bytes || QFileInfo(path).isDir())
        return {};
    return path;
}

void FilePathBox::dragEnterEvent(QDragEnterEvent* event)
{
    if (!acceptAsCopy(event))
        event->ignore();
}

void FilePathBox::dragMoveEvent(QDragMoveEvent* event)
{
    if (!acceptAsCopy(event))
        event->ignore();
}

void FilePathBox::dropEvent(QDropEvent* event)
{
    if (!acceptAsCopy(event)) {
        event->ignore();
        return;
    }
    // Replaced as one edit, so that undo brings the typed text back.
    selectAll();
    insert(DroppedFilePath(*event->mimeData()));
}

}  // namespace platform
