// SPDX-License-Identifier: MIT
// flock on Windows: LockFileEx on a byte far past any file's end, so that the lock keeps
// other writers out without blocking anyone's reads and writes (Calls.cpp).
#pragma once
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8
extern "C" int flock(int fd, int operation);
