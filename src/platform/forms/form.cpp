#include "platform/forms/form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

// Every form that exists, loaded or unloaded and waiting to be deleted.
std::vector<Form*>& existingForms()
{
    static std::vector<Form*> forms;
    return forms;
}

// Ends the event loop, if one runs. Qt's exit() without a running loop
// would make the next modal dialog's loop return at once.
void endEventLoop()
{
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

}  // namespace

Form::Form(const QString& name)
{
    setObjectName(name);
    existingForms().push_back(this);
}

Form::~Form()
{
    auto& forms = existingForms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    forget();
}

void Form::Show()
{
    if (isVisible())
        raise();
    show();
    activateWindow();
}

void Form::Unload()
{
    hide();
    forget();
    deleteLater();
}

void Form::closeEvent(QCloseEvent* event)
{
    event->accept();
    forget();
    deleteLater();
}

void Form::forget()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    if (LoadedFormCount() == 0)
        endEventLoop();
}

int LoadedFormCount()
{
    const auto& forms = existingForms();
    return static_cast<int>(std::count_if(forms.begin(), forms.end(), [](const Form* f) { return !f->isUnloaded(); }));
}

void End()
{
    for (Form* form : existingForms()) {
        form->unloaded_ = true;
        form->hide();
    }
    endEventLoop();
}

void DestroyAllForms()
{
    while (!existingForms().empty())
        delete existingForms().back();
}

}  // namespace platform
