// Shared pieces of the desktop application's tests: the one QApplication,
// a controller started on defaults of its own in a fresh folder, small
// WAVE files, and an alert answerer that records what was shown.
#pragma once

#include "AppPresenter.h"
#include "ConvSpec.h"
#include "MainController.h"
#include "TestTempDir.h"
#include "UserDefaults.h"

#include <QString>
#include <QWidget>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Makes the QApplication (offscreen) on first use.
void EnsureApplication();

// The width `window` needs for its title bar: its title, the application's
// name after it, the window's buttons.
int TitleBarNeeds(const QWidget* window);

// Presses Ctrl+Q in `window` and runs the application's event loop until it
// quits: exec's result, 99 when it had not quit after 10 s.
int QuitWithCtrlQ(QWidget* window);

// A 16-bit PCM WAVE file of `frames` frames of a quiet ramp.
void WriteWave(const QString& path, int frames, int rate = 44100, int channels = 1, int bits = 16);
void WriteText(const QString& path, const QByteArray& bytes);

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString path(const QString& name) const { return m_dir.qpath() + QLatin1Char('/') + name; }
    // Stores `values` as the user's defaults before start().
    void storeDefaults(const QVariantMap& values);
    // A started controller on this test's defaults.
    MainController& startController();
    // The same with the conversions `names` as the user's list, each set up
    // by `setUp` (given the conversion and its index) when there is one.
    MainController& startWithConversions(const QStringList& names,
                                         const std::function<void(ConvSpec&, int)>& setUp = {});
    // Adds `paths` and waits until the add is over; the number added.
    int addAndWait(const QStringList& paths);
    QStringList listedNames() const;

    TestTempDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<MainController> m_controller;
    QList<Alert> m_alerts;
};
