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

#include "MainWindow.h"
#include "ProjectsDialog.h"
#include "StationSetup.h"
#include "StepEditor.h"
#include "app/ExitStatus.h"
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

    // The setup holds the trace the station's port writes to: it outlives the window.
    ps::gui::StationSetup setup;
    ps::gui::TForm1 form;
    std::string programFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
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
