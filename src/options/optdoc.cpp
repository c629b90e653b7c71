// SPDX-License-Identifier: MIT
// progstation-optdoc: writes what is made from the option table, for the build.
//   progstation-optdoc man cli|gui TEMPLATE OUT   a man page's Markdown, options filled in
//   progstation-optdoc completion OUT              the bash completion of progstation-cli
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "options/OptionTable.h"

namespace {

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ps::options;
    const std::string what = argc > 1 ? argv[1] : "";
    std::string text, outPath;
    if (what == "man" && argc == 5) {
        std::ifstream in(argv[3], std::ios::binary);
        std::stringstream page;
        page << in.rdbuf();
        if (!in) {
            std::fprintf(stderr, "progstation-optdoc: cannot read %s\n", argv[3]);
            return 1;
        }
        text = ManPage(std::string(argv[2]) == "gui" ? Gui : Cli, page.str());
        outPath = argv[4];
    } else if (what == "completion" && argc == 3) {
        text = BashCompletion();
        outPath = argv[2];
    } else {
        std::fprintf(stderr,
                     "usage: progstation-optdoc man cli|gui TEMPLATE OUT | completion OUT\n");
        return 64;
    }
    if (!WriteFile(outPath, text)) {
        std::fprintf(stderr, "progstation-optdoc: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return 0;
}
