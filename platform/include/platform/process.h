#pragma once
// Starting, waiting for and finding processes.
#include <string>
#include <vector>

namespace plat {

// Starts `argv` (argv[0] an absolute program path) with default signal handling, no
// blocked signals, in a process group of its own, with this process's environment and
// no open descriptor but 0, 1 and 2.
// With `detach` the program runs on its own through a shell that exits at once (so no
// child is left to reap) and `pid` is 0; otherwise `pid` is the child to wait for.
bool Spawn(const std::vector<std::string>& argv, bool detach, int& pid);

// The absolute path of the executable `name` found first in the folders of $PATH;
// empty when none is there.
std::string FindProgram(const std::string& name);

// Waits up to timeoutMs for a child started without detach: 0 ended (and reaped),
// 258 still running, -1 not a child of this process. When it ended, `exitCode` (when
// given) receives its exit status, or 128 + the signal that ended it.
int WaitChild(int pid, int timeoutMs, int* exitCode = nullptr);

// Reaps the child once it ends, on one background thread for all such children. That
// thread is joined when the process exits; a child still running then is left to the
// system.
void ReapLater(int pid);

// Ends a child started without detach: asks it to end (SIGTERM), gives it `graceMs` to do
// so, then kills it (SIGKILL); it is reaped either way. False when `pid` is not a child
// of this process.
bool TerminateChild(int pid, int graceMs);

// 1 when a process runs the program at `executable` (compared by canonical path), 0 when
// none does, -1 when the processes cannot be enumerated.
int IsProgramRunning(const std::string& executable);

}  // namespace plat
