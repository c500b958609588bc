#pragma once

#include "platform/forms/twips.h"

#include <QPushButton>
#include <QString>
#include <QWidget>

namespace platform {

// Gives a control of a form its designer name and its place, in twips from
// the top-left corner of its container.
inline void Place(QWidget* control, const char* name, int left, int top, int width, int height)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

// A command button of a form. Enter presses the button that has the focus,
// as it does on the desktop this tool comes from; only a form that names a
// default button gives Enter to it when no button has the focus.
inline QPushButton* CommandButton(QWidget* container, const char* name, const char* caption, int left, int top,
                                  int width, int height)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), container);
    Place(button, name, left, top, width, height);
    button->setAutoDefault(true);
    return button;
}

}  // namespace platform
