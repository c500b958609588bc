#pragma once

#include <QLineEdit>
#include <QString>

class QMimeData;

namespace platform {

// A text box that holds the path of a file. A file dragged onto it from a
// file manager replaces its text with the file's path; Qt's text box would
// insert the file's URL at the drop point, a name no run can open. Nothing
// else may be dropped on it.
class FilePathBox final : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The local path of the one file that a drag carries; empty for anything
// else: several files, a folder, a remote or non-file URL, plain text, or
// a name that the file system's encoding cannot give back byte for byte.
QString DroppedFilePath(const QMimeData& data);

}  // namespace platform
