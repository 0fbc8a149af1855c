// Child processes of the study tools: a program started in a folder with its
// standard output and error read through pipes, and the folder of the
// running executable (the other programs are installed beside it).
#pragma once

#include <string>
#include <vector>

namespace tx {

struct ChildProcess {
  int pid = -1;
  int out = -1;  // read ends of its standard output and error (close-on-exec)
  int err = -1;
};

// Starts `program` (a path, or a name looked up on PATH) with `args` in
// `folder`; its standard input is /dev/null. Throws RunError when no process
// can be made; a program that cannot be executed exits with status 127.
ChildProcess start_process(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder);

// Waits for the process; returns its exit status, or 128 + the signal that
// ended it. Retries when interrupted by a signal.
int wait_process(int pid);

// Runs a program to its end with its output discarded; returns the exit status
// (127 when it could not be executed).
int run_quietly(const std::string& program, const std::vector<std::string>& args,
                const std::string& folder);

// Sends a signal to a running child.
void signal_process(int pid, int signal);

// Folder of the running executable, empty if it cannot be found.
std::string executable_folder();

}  // namespace tx
