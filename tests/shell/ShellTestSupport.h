#pragma once
// The program as a test runs it: its own settings file, runtime folder (project locks) and
// silent audio; every alert is recorded and answered from a script; the panels answer from a
// script too. Settings read through the program-wide object go to a folder of the test process.

#include "Shell/AppDelegate.h"
#include "Shell/KavioMainInterface.h"
#include "Support/KavioAlert.h"
#include "UserDefaults.h"

#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <memory>

struct ShellTestEnvironment {
    ShellTestEnvironment();
    ~ShellTestEnvironment();

    QTemporaryDir dir;
    QStringList alerts;                // message texts, in order
    QStringList alertDetails;          // their informative texts
    std::deque<long> alertResponses;   // 1000, 1001, …; empty answers 1000
    std::deque<QString> panelAnswers;  // paths; empty answers Cancel
};

// One run of the program on the environment's settings.
struct ShellTestProgram {
    explicit ShellTestProgram(ShellTestEnvironment& env);
    // Launch as KavioApplicationMain does, with `files` handed over before launch ends; returns
    // once a project opened at launch has loaded.
    void launch(const QStringList& files = {});
    // Opens `path` and returns once the load has ended (a running render clock lets the show be
    // cleared only at the end of its frame).
    void load(const QString& path);
    void waitUntilLoaded();
    AppDelegate& app() const { return ui->appDelegate(); }

    ShellTestEnvironment& env;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<KavioMainInterface> ui;
};

// Writes `root` as a project file.
void writeProjectFile(const QString& path, const QVariantMap& root);

// Chooses the item with that title as the user would (the pop-up's action runs); a fatal test
// failure when the control is not the control library's pop-up or has no such item.
void chooseItemWithTitle(KavioPopUpButtonInterface* control, const QString& title);
