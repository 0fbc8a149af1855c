// The platform layer: everything that differs between operating systems,
// behind this one header. posix.cpp implements it for Linux; a port adds
// its own implementation file and nothing else.
#pragma once

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tx {

// --- console ---------------------------------------------------------------

// Makes the console show the program's UTF-8 messages as they are (a
// Windows console starts in an OEM code page). Called first by each program.
void prepare_console();

// --- command shell, editor and plotting program ----------------------------
// gnuplot started by run_command, start_process or run_quietly draws without
// a warning in any locale: on Linux, where the locale's characters lack the
// degree sign (the C locale), it gets C.UTF-8's.

// Whether a program of this name can be found on PATH.
bool on_path(const std::string& program);

// The editor and plotting program named in the command lines ("notepad",
// "wgnuplot") mapped to what this system has. Returns an empty string,
// after one line on standard error, when there is nothing to run.
std::string mapped_command(const std::string& line);

// Runs one command line through the system's command shell and waits;
// returns its exit status (127 when nothing could be run).
int run_command(std::string_view command_line);

// Whether plot windows can be shown (a graphical display is there).
bool has_display();

// Local calendar date and time: year, month, day, hour, minute, second.
std::array<int, 6> local_calendar();

// --- signals -------------------------------------------------------------

// Ctrl-C and the termination request (SIGINT, SIGTERM; on a console the
// equivalent events) set the returned flag instead of ending the process.
// With `interrupt_waits`, a wait for children's output returns early on
// such a signal. The flag is process-wide, as signal handlers need; callers
// keep only a pointer to it.
volatile std::sig_atomic_t* catch_stop_signals(bool interrupt_waits);

// A console that goes away (the reader of a pipe ended) must not end the
// process: writes to it fail instead.
void ignore_broken_pipe();

// --- environment ---------------------------------------------------------

// Sets an environment variable for this process and the programs it starts.
void set_environment(const std::string& name, const std::string& value);

// --- memory --------------------------------------------------------------

// Bytes this process may still allocate: the smallest of its address-space
// and data limits and the free memory (swap included).
long long memory_available();

// --- files ---------------------------------------------------------------

// A file as the file system knows it, not by its name.
struct FileId {
  bool exists = false;   // also true for a dangling symbolic link
  bool regular = false;  // a regular file (after following links)
  bool link = false;     // the name itself is a symbolic link
  std::uint64_t volume = 0, index = 0;
};

// A file name as the program holds it (UTF-8 from the command line and the
// system, or the case data's bytes) for the file system: on Windows each
// well-formed UTF-8 sequence is one character and any other byte a Latin-1
// one, so "Tubeira_água" names the same file either way. Every file
// operation on such a name goes through one of these two.
std::filesystem::path file_path(const std::string& name);
std::FILE* open_file(const std::string& name, const char* mode);

// Renames `from` over `to`, replacing it in one step (the data already on
// the disk: flush_to_disk first). False, with `to` untouched, on failure.
bool replace_file(const std::string& from, const std::string& to);

// Why `name` (a case name: the start of file names in the working folder)
// cannot name files on this system, worded as what is expected instead
// ("um nome sem ..."); empty when it can. Folder separators are the
// caller's check. Windows refuses a drive letter or any ':' (a stream), the
// characters < > " | ? * and control characters, and device names (CON,
// NUL, COM1 ...) whatever follows them.
std::string file_name_problem(const std::string& name);

FileId identify(const std::string& path);
bool same_file(const FileId& a, const FileId& b);

// Whether this process may write the file, or create files in the folder;
// when not, `why` (if given) receives the system's reason.
bool is_writable(const std::string& path, std::string* why = nullptr);
bool folder_takes_new_files(const std::string& folder, std::string* why = nullptr);
bool is_executable(const std::string& path);

// Flushes an open file's data to the disk (after fflush).
bool flush_to_disk(std::FILE* f);

// The common causes of a failed file operation in Portuguese ("permissão
// negada", "o disco está cheio"), from the errno value the C library set;
// anything rarer as "erro do sistema N".
std::string error_reason(int errno_value);

// Creates `path` for writing (binary), only if no entry of that name exists:
// never through a symbolic link, dangling or not, and never over another
// process's file. Null, with the reason in `why`, when it cannot.
std::FILE* open_new_file(const std::string& path, std::string* why = nullptr);

// Creates or truncates `path` for writing (binary), but never through a
// symbolic link: a link there makes it fail (`why` says so).
std::FILE* open_for_writing(const std::string& path, std::string* why = nullptr);

// Opens a regular file for reading (binary), following links. A FIFO, a
// device or a folder is refused without blocking on it (`why` says so).
std::FILE* open_regular_file(const std::string& path, std::string* why = nullptr);

// An exclusive lock on a file, without waiting. The file is created if
// absent (not through a link). The lock is held by this process and by every
// process it starts afterwards, until the last of them ends or it is
// released: the system releases it when they die, however they die, so a
// killed holder never blocks the next one for ever.
struct FileLock {
  std::intptr_t handle = -1;
  std::string path;
};
enum class LockResult { Taken, Busy, Failed };
LockResult take_lock(const std::string& path, FileLock& lock, std::string* why = nullptr);
// Removes the lock file and releases the lock (the children keep nothing).
void release_lock(FileLock& lock);

// --- child processes -----------------------------------------------------

struct ChildProcess {
  long long pid = -1;
  std::intptr_t out = -1;  // read ends of its standard output and error
  std::intptr_t err = -1;
  std::intptr_t handle = -1;  // where the system waits on a handle, not the id
  std::intptr_t stop = -1;    // where a stop request needs a channel of its own
};

// Starts `program` (a path, or a name looked up on PATH) with `args` in
// `folder`; its standard input is the null device. Throws RunError when no
// process can be made; a program that cannot be executed exits with 127.
ChildProcess start_process(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder);

// Waits for the process (once per child); returns its exit status, or 128 +
// the signal that ended it. Retries when interrupted by a signal.
int wait_process(const ChildProcess& child);

// Runs a program to its end with its output discarded; returns the exit
// status (127 when it could not be executed).
int run_quietly(const std::string& program, const std::vector<std::string>& args,
                const std::string& folder);

// Asks a running child to stop as Ctrl-C does (it finishes its iteration).
void interrupt_process(const ChildProcess& child);

// What arrived from the children's pipes.
struct ChildOutput {
  std::size_t child = 0;  // index into the vector given
  bool is_err = false;    // standard error, else standard output
  std::string data;       // empty when the pipe reached its end
  bool closed = false;    // the pipe ended and its handle was closed (set to -1)
};

// Waits up to `timeout_ms` for output on the open pipes of `children` and
// reads what is there. Returns early, possibly with nothing, on a stop
// signal caught with `interrupt_waits`. Throws RunError when the pipes
// cannot be watched.
std::vector<ChildOutput> read_children(std::vector<ChildProcess*>& children, int timeout_ms);

// Folder of the running executable, empty if it cannot be found.
std::string executable_folder();

}  // namespace tx
