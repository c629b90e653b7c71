// SPDX-License-Identifier: MIT
// progstation: the desktop station.
//   progstation [--ini PATH] [--trace FILE] [--projects] [AUTO[=n]] [step-file lines...]
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GangWindow.h"
#include "MainWindow.h"
#include "ProjectsDialog.h"
#include "StationSetup.h"
#include "StepEditor.h"
#include "run/ExitStatus.h"
#include "app/Version.h"
#include "projects/Settings.h"

namespace {

constexpr int UsageStatus = ps::ExitUsage;

// "--help" and "--version" are answered before the window system is reached, so they work
// without a display (and in a package build's checks). True when one was answered.
bool AnswerWithoutDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("progstation %s\n", ps::VersionText().c_str());
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(ps::gui::HelpText().c_str(), stdout);
            return true;
        }
    }
    return false;
}

// The gang window, when --gang or [INIT] Gang= asks for one: runs it and returns true with
// the program's status in `status`.
bool RunGangWindow(QApplication& app, const ps::gui::SetupOptions& options,
                   const std::string& programFolder, int& status) {
    ps::gui::GangSetup gang;
    std::string error;
    const std::string iniPath = ps::LocateSettingsFile(programFolder, options.IniOverride);
    if (!ps::gui::GangFromOptions(options, iniPath, programFolder, gang, error)) {
        std::fprintf(stderr, "progstation: %s\n", error.c_str());
        status = UsageStatus;
        return true;
    }
    if (gang.Ports.empty()) return false;
    ps::gui::TGangWindow window(std::move(gang));
    QObject::connect(
        &window, &ps::gui::TGangWindow::Terminating, &app,
        [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);
    window.show();
    status = app.exec();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerWithoutDisplay(argc, argv)) return 0;
    QApplication app(argc, argv);
    // The program ends only through the window's Terminating signal, which carries the
    // status; closing the last window must not end it with 0 first.
    app.setQuitOnLastWindowClosed(false);
    ps::gui::SetupOptions options;
    std::string error;
    if (!ps::gui::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "progstation: %s (see progstation --help)\n", error.c_str());
        return UsageStatus;
    }
    if (options.Help) {
        std::fputs(ps::gui::HelpText().c_str(), stdout);
        return 0;
    }

    std::string programFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
    if (int status = 0; RunGangWindow(app, options, programFolder, status)) return status;

    // The setup holds the trace the station's port writes to: it outlives the window.
    ps::gui::StationSetup setup;
    ps::gui::TForm1 form;
    if (!setup.Apply(form.St(), options, programFolder, error)) {
        std::fprintf(stderr, "progstation: %s\n", error.c_str());
        return UsageStatus;
    }
    QObject::connect(
        &form, &ps::gui::TForm1::Terminating, &app,
        [](int status) { QCoreApplication::exit(status); }, Qt::QueuedConnection);
    // The projects dialog and the step editor live as long as the window.
    ps::gui::TPEditing editor(&form);
    ps::gui::TProjects projects(form.St(), editor, &form);
    projects.SetSettingsFiles(ps::LocateSettingsFiles(programFolder, options.IniOverride));
    ps::gui::ConnectProjectsButton(form, projects);
    form.show();
    form.activateWindow();
    if (options.OpenProjects)
        QTimer::singleShot(0, &projects, [&projects] { projects.OpenList(); });
    return app.exec();
}
