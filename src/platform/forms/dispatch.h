#pragma once

#include "platform/error_report.h"

#include <QMetaObject>

#include <functional>

class QAbstractButton;

namespace platform {

// Connects the Click event of a button to its handler, through RunHandler.
QMetaObject::Connection OnClick(QAbstractButton* button, std::function<void()> handler);

}  // namespace platform
