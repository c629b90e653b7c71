// SPDX-License-Identifier: MIT
#include "options/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>

namespace ps::options {

std::string ParsedLine::Value(const std::string& option) const {
    const auto it = Values.find(option);
    return it == Values.end() ? std::string() : it->second;
}

bool ParseCommandLine(Program program, const std::vector<std::string>& args, ParsedLine& out,
                      std::string& error) {
    out = {};
    CLI::App app(ProgramName(program));
    app.set_help_flag();  // --help is a row of the table, answered by the program
    app.allow_extras(false);
    app.positionals_at_end(false);
    std::vector<std::pair<const OptionSpec*, CLI::Option*>> added;
    std::map<std::string, bool> flags;
    for (const OptionSpec* o : OptionsOf(program)) {
        const std::string names = *o->Short ? std::string(o->Short) + "," + o->Long : o->Long;
        CLI::Option* opt = *o->Value ? app.add_option(names, out.Values[o->Long])
                                     : app.add_flag(names, flags[o->Long]);
        opt->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        added.emplace_back(o, opt);
    }
    app.add_option("steps", out.Steps);
    // CLI11 trims the blanks around a value joined with "=", which would take "--port= 2"
    // for "--port 2"; values are taken as they are written, so such a value is refused.
    for (const std::string& a : args) {
        if (a == "--") break;
        const size_t eq = a.find('=');
        if (a.rfind("--", 0) != 0 || eq == std::string::npos || eq + 1 == a.size()) continue;
        const unsigned char first = a[eq + 1], last = a.back();
        if (std::isspace(first) || std::isspace(last)) {
            error = a.substr(0, eq) + " takes its value without blanks around it";
            return false;
        }
    }
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        // What CLI11 could not place: the first unknown option and whatever followed it.
        const std::vector<std::string> rest = app.remaining();
        error = "unknown option " + (rest.empty() ? std::string() : rest.front());
        out = {};
        return false;
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string what = e.what();  // "--ini: 1 required TEXT missing"
        error = what.substr(0, what.find(':')) + " needs a value";
        out = {};
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        out = {};
        return false;
    }
    for (const auto& [o, opt] : added) {
        if (opt->count() > 0)
            out.Given.insert(o->Long);
        else
            out.Values.erase(o->Long);
    }
    return true;
}

bool StrictWhole(const std::string& text, long min, long max, long& out) {
    if (text.empty() || text.size() > 18) return false;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n < min || n > max) return false;
    out = n;
    return true;
}

std::vector<std::string> WithoutOption(Program program, const std::vector<std::string>& args,
                                       const std::string& option) {
    // Only options that take a value can swallow the next argument.
    std::set<std::string> withValue;
    for (const OptionSpec* o : OptionsOf(program)) {
        if (!*o->Value) continue;
        withValue.insert(o->Long);
        if (*o->Short) withValue.insert(o->Short);
    }
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            out.insert(out.end(), args.begin() + static_cast<long>(i), args.end());
            break;
        }
        const bool joined = a.rfind(option + "=", 0) == 0;
        if (a == option || joined) {
            if (!joined) ++i;  // its value
            continue;
        }
        out.push_back(a);
        if (withValue.count(a) && i + 1 < args.size()) out.push_back(args[++i]);
    }
    return out;
}

}  // namespace ps::options
