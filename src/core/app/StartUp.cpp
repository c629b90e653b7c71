// SPDX-License-Identifier: MIT
#include "app/StartUp.h"

#include <cctype>

#include "run/Station.h"
#include "images/TMOT.h"
#include "link/Crc32.h"
#include "projects/Settings.h"

namespace ps {

namespace {
std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Leading blanks, an optional sign, then decimal digits or hexadecimal ones after "$" or
// "0X"; reading stops at the first other character and keeps what was read.
int ReadProjectNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && text[i + 1] == 'X') {
        base = 16;
        i += 2;
    }
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        const int64_t next = value * base + digit;
        if (next > INT32_MAX) break;
        value = next;
    }
    return static_cast<int>(negative ? -value : value);
}
}  // namespace

AutoArgument ParseAutoArgument(const std::string& firstArgument) {
    AutoArgument result;
    const std::string arg = Upper(firstArgument);
    if (arg.compare(0, 4, "AUTO") != 0) return result;
    result.AutoMode = true;
    if (arg.size() > 4 && arg[4] == '=') result.ProjectNumber = ReadProjectNumber(arg.substr(5));
    return result;
}

bool ActivateStation(Station& st, bool& firstActivation) {
    if (firstActivation) {
        st.Mot = std::make_unique<TMOT>();
        firstActivation = false;
    }
    st.AutoMode = false;
    st.Project = SelectCurrentProject(st.IniPath);
    st.view.SetMapVisible(false);
    st.view.SetBytesVisible(false);
    // A message box closed during a run activates the window too; reselecting COM1 then
    // would send the run's next step to another fixture's board.
    if (!st.Running) st.SelectedPort = 1;
    FillCrc32Table();
    if (!st.CommandLineArgs.empty()) {
        const AutoArgument automatic = ParseAutoArgument(st.CommandLineArgs.front());
        st.AutoMode = automatic.AutoMode;
        if (automatic.ProjectNumber > 0)
            st.Project = SelectCurrentProject(st.IniPath, automatic.ProjectNumber);
    }
    // A message box closed during a run activates the window again, and a run that could
    // not open its step file or port leaves the window open to be activated again:
    // automatic mode runs the project once per program, never inside another run.
    if (!st.AutoMode || st.Running || st.AutoRunStarted) return false;
    st.AutoRunStarted = true;
    return true;
}

void CloseStation(Station& st) {
    // During a run the port stays with the run, which closes it as it unwinds.
    if (!st.Running) {
        try {
            if (st.Comm.Active()) st.Comm.Close();
        } catch (const ESerialPortError&) {
        }
    }
    st.ContinueRequested = 1;
    st.RunError = RunStopped;
}

}  // namespace ps
