#pragma once

#include "platform/forms/form.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <functional>
#include <utility>

#include <gtest/gtest.h>

// Every case starts with no form loaded and nothing plugged into the
// window, and leaves it so.
class UiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        platform::DestroyAllForms();
        ui::mainFrmHandlers() = {};
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Runs `step` from the event loop after `ms`, unless the case has ended.
    void after(int ms, std::function<void()> step) { QTimer::singleShot(ms, &scope_, std::move(step)); }

    // Runs the event loop until the program ends, or until the watchdog
    // ends it with 99 after `limitMs`.
    static int runEventLoop(int limitMs = 5000)
    {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(limitMs);
        return QApplication::exec();
    }

private:
    QObject scope_;
};
