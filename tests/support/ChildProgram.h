// SPDX-License-Identifier: MIT
#pragma once
// Runs one of the programs as a script would: in a folder, with extra environment, its
// input closed, and its output read to the end.
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/RunGuard.h"

namespace pstest {

struct ProgramResult {
    int Status = -1;  // the exit status; -1 when it did not exit normally
    std::string Out;  // standard output, and standard error too unless kept apart
    std::string Err;
};

inline std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
}

// In a forked child: becomes `program` in `dir` with `env` added; never returns.
[[noreturn]] inline void ExecProgram(const std::string& program,
                                     const std::vector<std::string>& args, const std::string& dir,
                                     const std::map<std::string, std::string>& env) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// `separateErr` keeps standard error apart in Err. The outputs of the programs under test
// are small, so reading one pipe after the other never blocks the child.
inline ProgramResult RunChildProgram(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& dir,
                                     const std::map<std::string, std::string>& env,
                                     bool separateErr = false) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(separateErr ? err[1] : out[1], 2);
        close(out[0]);
        close(err[0]);
        close(0);
        ExecProgram(program, args, dir, env);
    }
    close(out[1]);
    close(err[1]);
    ChildDeadline deadline(pid);  // a program that hangs is killed: its pipes close
    ProgramResult r;
    r.Out = ReadToEnd(out[0]);
    r.Err = ReadToEnd(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    deadline.Cancel();
    EXPECT_FALSE(deadline.Killed()) << "the program did not end; its output:\n" << r.Out << r.Err;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace pstest
