#pragma once

#include "platform/seam.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

namespace platform {

// The platform's file dialog, modal over its owner window.
class FileDialog {
public:
    enum class Mode { Open, Save };

    virtual ~FileDialog() = default;

    // Shows the dialog opened on fileName (a path, a bare name or empty)
    // with the filter text exactly as given; returns when the operator
    // closes it: the full path chosen, or nothing when cancelled.
    virtual std::optional<QString> show(Mode mode, QWidget* owner, const QString& fileName, const QString& filter) = 0;
};

// The common dialog control of a form: Filter and FileName, ShowOpen and
// ShowSave. Both texts start empty. A choice replaces FileName; a cancel
// leaves it as it was, so it always holds the last path chosen.
class CommonDialog final : public QObject {
    Q_OBJECT
public:
    explicit CommonDialog(QWidget* owner);

    QString Filter() const { return filter_; }
    void setFilter(const QString& filter) { filter_ = filter; }

    QString FileName() const { return fileName_; }
    void setFileName(const QString& fileName) { fileName_ = fileName; }

    void ShowOpen() { show_(FileDialog::Mode::Open); }
    void ShowSave() { show_(FileDialog::Mode::Save); }

private:
    void show_(FileDialog::Mode mode);

    QPointer<QWidget> owner_;
    QString filter_;
    QString fileName_;
};

}  // namespace platform
