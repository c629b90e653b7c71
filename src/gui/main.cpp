// progstation: the desktop station.
//   progstation [--ini PATH] [--trace FILE] [AUTO[=n]] [step-file lines...]
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MainWindow.h"
#include "StationSetup.h"
#include "app/ExitStatus.h"
#include "app/Version.h"

namespace {

constexpr const char* UsageText =
    "usage: progstation [--ini PATH] [--trace FILE] [AUTO[=n]] [step-file lines...]\n"
    "  --ini PATH    use this PROGRAMMER.INI\n"
    "  --trace FILE  write every port event to FILE\n"
    "  --version     print the version and exit\n"
    "  AUTO[=n]      run the current project at once and end with its status\n"
    "Other arguments are applied to every step as step-file lines.\n";
constexpr int UsageStatus = ps::ExitUsage;

}  // namespace

int main(int argc, char** argv) {
    // Answered before the window system is reached, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("progstation %s\n", ps::VersionText().c_str());
            return 0;
        }
    }
    QApplication app(argc, argv);
    // The program ends only through the window's Terminating signal, which carries the
    // status; closing the last window must not end it with 0 first.
    app.setQuitOnLastWindowClosed(false);
    ps::gui::SetupOptions options;
    std::string error;
    if (!ps::gui::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "progstation: %s\n%s", error.c_str(), UsageText);
        return UsageStatus;
    }
    if (options.Help) {
        std::fputs(UsageText, stdout);
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
    form.show();
    form.activateWindow();
    return app.exec();
}
