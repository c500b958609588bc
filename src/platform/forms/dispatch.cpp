#include "platform/forms/dispatch.h"

#include <QAbstractButton>

#include <utility>

namespace platform {

QMetaObject::Connection OnClick(QAbstractButton* button, std::function<void()> handler)
{
    return QObject::connect(button, &QAbstractButton::clicked, button,
                            [handler = std::move(handler)] { RunHandler(handler); });
}

}  // namespace platform
