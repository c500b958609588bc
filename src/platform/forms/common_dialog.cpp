#include "platform/forms/common_dialog.h"

#include <QFileDialog>

namespace platform {
namespace {

class QtFileDialog final : public FileDialog {
public:
    std::optional<QString> show(Mode mode, QWidget* owner, const QString& fileName, const QString& filter) override
    {
        // An empty caption lets Qt give each form its usual title. Qt selects
        // the file that `dir` names, which opens the dialog with it filled in.
        const QString chosen = mode == Mode::Open ? QFileDialog::getOpenFileName(owner, QString(), fileName, filter)
                                                  : QFileDialog::getSaveFileName(owner, QString(), fileName, filter);
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen;
    }
};

}  // namespace

template <>
FileDialog& realImplementation<FileDialog>()
{
    static QtFileDialog dialog;
    return dialog;
}

CommonDialog::CommonDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

void CommonDialog::show_(FileDialog::Mode mode)
{
    if (std::optional<QString> chosen = use<FileDialog>().show(mode, owner_, fileName_, filter_))
        fileName_ = *chosen;
}

}  // namespace platform
