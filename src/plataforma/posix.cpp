// The platform layer on Linux (POSIX).
#include "plataforma/plataforma.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/erro.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

// Signal handlers can only reach process-wide data: this flag is the one
// piece of it, and the states only point to it.
volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) { g_stop = 1; }

// Whether gnuplot would warn on every script in this process's locale.
// When a script sets its encoding (every template does), gnuplot writes the
// degree sign in the characters of its LC_CTYPE locale and warns ("iconv
// failed to convert degree sign") where they have none: the C locale of a
// minimal system or a container. It keeps a sign of its own in a locale
// that does not exist.
bool locale_lacks_degree_sign() {
  const locale_t loc = ::newlocale(LC_CTYPE_MASK, "", locale_t{});
  if (loc == locale_t{}) return false;
  const std::string codeset = ::nl_langinfo_l(CODESET, loc);
  ::freelocale(loc);
  if (codeset == "UTF-8") return false;
  const iconv_t cd = ::iconv_open(codeset.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return true;  // gnuplot warns too
  char degree[] = "\xc2\xb0", out[8];
  char* in = degree;
  char* to = out;
  std::size_t in_left = 2, out_left = sizeof out;
  const bool lacks = ::iconv(cd, &in, &in_left, &to, &out_left) == static_cast<std::size_t>(-1);
  ::iconv_close(cd);
  return lacks;
}

// The environment a started program gets: this process's, except that
// gnuplot gets C.UTF-8's characters (built into glibc) where this locale
// lacks the degree sign, through LC_ALL when that is set (it overrides
// LC_CTYPE). Built before fork: the child may only make async-signal-safe calls.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const std::string& program) {
    if (std::filesystem::path(program).filename() != "gnuplot" || !locale_lacks_degree_sign())
      return;
    const char* all = std::getenv("LC_ALL");
    const std::string var = all != nullptr && *all != '\0' ? "LC_ALL=" : "LC_CTYPE=";
    for (char** v = environ; *v != nullptr; ++v)
      if (std::string_view(*v).substr(0, var.size()) != var) vars_.emplace_back(*v);
    vars_.push_back(var + "C.UTF-8");
    for (std::string& v : vars_) pointers_.push_back(v.data());
    pointers_.push_back(nullptr);
  }
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;
  char* const* get() const { return vars_.empty() ? environ : pointers_.data(); }

 private:
  std::vector<std::string> vars_;
  std::vector<char*> pointers_;
};

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const std::string& program, char* const* argv, char* const* envp,
                             const std::string& folder, int out, int err) {
  // The parent may ignore SIGPIPE; the program gets the usual behaviour.
  std::signal(SIGPIPE, SIG_DFL);
  const int null_in = ::open("/dev/null", O_RDONLY);
  if (null_in >= 0) ::dup2(null_in, 0);
  if (::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
  if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(127);
  ::execvpe(program.c_str(), argv, envp);
  ::_exit(127);
}

std::vector<char*> argv_of(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

void prepare_console() {}

// Whether a program of this name can be found on PATH.
bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir.push_back('.');
    std::string candidate = dir;
    candidate += '/';
    candidate += program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

int run_command(std::string_view command_line) {
  const std::string line = mapped_command(trimmed(command_line));
  if (line.empty()) return 127;
  const ChildEnvironment env(line.substr(0, line.find(' ')));
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // The run ignores SIGPIPE (its console may be a closed pipe); the
    // started program gets the usual behaviour back.
    ::signal(SIGPIPE, SIG_DFL);
    ::execle("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr), env.get());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool has_display() {
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* v = std::getenv(var); v != nullptr && *v != '\0') return true;
  return false;
}

std::array<int, 6> local_calendar() {
  const std::time_t now = std::time(nullptr);
  std::tm lt{};
  localtime_r(&now, &lt);
  return {lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec};
}

volatile std::sig_atomic_t* catch_stop_signals(bool interrupt_waits) {
  g_stop = 0;
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  // Without SA_RESTART a wait (poll) returns on the signal; with it, file
  // writes of a run are never cut short by one.
  sa.sa_flags = interrupt_waits ? 0 : SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  return &g_stop;
}

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

void set_environment(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

long long memory_available() {
  long long have = LLONG_MAX;
  for (const int res : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit rl{};
    if (getrlimit(res, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY &&
        rl.rlim_cur < static_cast<rlim_t>(have))
      have = static_cast<long long>(rl.rlim_cur);
  }
  // Free memory as the kernel reckons it (reclaimable caches included).
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  long long kb = 0, avail = -1, swap = 0;
  std::string unit;
  while (meminfo >> key >> kb) {
    if (key == "MemAvailable:") avail = kb;
    if (key == "SwapFree:") swap = kb;
    std::getline(meminfo, unit);
  }
  if (avail >= 0 && (avail + swap) * 1024 < have) have = (avail + swap) * 1024;
  return have;
}

std::filesystem::path file_path(const std::string& name) { return name; }

std::FILE* open_file(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string file_name_problem(const std::string&) { return {}; }

FileId identify(const std::string& path) {
  FileId id;
  struct stat lst {};
  const bool there = ::lstat(path.c_str(), &lst) == 0;
  id.link = there && S_ISLNK(lst.st_mode);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    id.exists = true;
    id.volume = static_cast<std::uint64_t>(st.st_dev);
    id.index = static_cast<std::uint64_t>(st.st_ino);
    id.regular = S_ISREG(st.st_mode);
  } else {
    // A dangling symbolic link is there all the same; writing through it
    // would create a file elsewhere.
    id.exists = there;
  }
  return id;
}

namespace {
bool accessible(const std::string& path, int mode, std::string* why) {
  if (::access(path.c_str(), mode) == 0) return true;
  if (why != nullptr) *why = error_reason(errno);
  return false;
}

std::FILE* failed_open(int fd, int err, std::string* why) {
  if (fd >= 0) ::close(fd);
  if (why != nullptr) *why = error_reason(err);
  return nullptr;
}
}  // namespace

std::FILE* open_new_file(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return failed_open(fd, errno, why);
  std::FILE* f = ::fdopen(fd, "wb");
  if (f == nullptr) {
    const int err = errno;
    ::unlink(path.c_str());
    return failed_open(fd, err, why);
  }
  return f;
}

std::FILE* open_for_writing(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return failed_open(fd, errno, why);
  std::FILE* f = ::fdopen(fd, "wb");
  if (f == nullptr) return failed_open(fd, errno, why);
  return f;
}

std::FILE* open_regular_file(const std::string& path, std::string* why) {
  // Non-blocking, so that a FIFO without a writer does not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failed_open(fd, errno, why);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return failed_open(fd, errno, why);
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (why != nullptr) *why = S_ISDIR(st.st_mode) ? "é uma pasta" : "não é um arquivo comum";
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    return failed_open(fd, errno, why);
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) return failed_open(fd, errno, why);
  return f;
}

LockResult take_lock(const std::string& path, FileLock& lock, std::string* why) {
  // The lock file is removed by its holder at the end; one opened just
  // before that removal is locked in vain, so the name is checked to still
  // be the locked file, and the open retried when it is not.
  for (int attempt = 0; attempt < 10; ++attempt) {
    // Not close-on-exec: the runs started afterwards share the lock, so it
    // outlives a killed holder while its runs go on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW, 0666);
    if (fd < 0) {
      if (why != nullptr) *why = error_reason(errno);
      return LockResult::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) return LockResult::Busy;
      if (why != nullptr) *why = error_reason(err);
      return LockResult::Failed;
    }
    struct stat held {}, named {};
    if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      lock.handle = fd;
      lock.path = path;
      return LockResult::Taken;
    }
    ::close(fd);
  }
  if (why != nullptr) *why = "o arquivo de trava muda sem parar";
  return LockResult::Failed;
}

void release_lock(FileLock& lock) {
  if (lock.handle < 0) return;
  ::unlink(lock.path.c_str());
  ::close(static_cast<int>(lock.handle));
  lock.handle = -1;
}

bool is_writable(const std::string& path, std::string* why) {
  return accessible(path, W_OK, why);
}

bool folder_takes_new_files(const std::string& folder, std::string* why) {
  return accessible(folder, W_OK | X_OK, why);
}

bool is_executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

bool flush_to_disk(std::FILE* f) { return ::fsync(::fileno(f)) == 0; }

ChildProcess start_process(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder) {
  int po[2], pe[2];
  if (::pipe2(po, O_CLOEXEC) != 0) throw RunError("Erro: não foi possível criar um processo.");
  if (::pipe2(pe, O_CLOEXEC) != 0) {
    ::close(po[0]);
    ::close(po[1]);
    throw RunError("Erro: não foi possível criar um processo.");
  }
  std::vector<char*> argv = argv_of(program, args);
  const ChildEnvironment env(program);
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(program, argv.data(), env.get(), folder, po[1], pe[1]);
  ::close(po[1]);
  ::close(pe[1]);
  if (pid < 0) {
    ::close(po[0]);
    ::close(pe[0]);
    throw RunError("Erro: não foi possível criar um processo (" +
                   error_reason(errno) + ").");
  }
  return {static_cast<long long>(pid), po[0], pe[0]};
}

int wait_process(const ChildProcess& child) {
  int status = 0;
  while (::waitpid(static_cast<pid_t>(child.pid), &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int run_quietly(const std::string& program, const std::vector<std::string>& args,
                const std::string& folder) {
  const int null_out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_out < 0) return 127;
  std::vector<char*> argv = argv_of(program, args);
  const ChildEnvironment env(program);
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(program, argv.data(), env.get(), folder, null_out, null_out);
  ::close(null_out);
  if (pid < 0) return 127;
  return wait_process(ChildProcess{static_cast<long long>(pid), -1, -1});
}

void interrupt_process(const ChildProcess& child) {
  if (child.pid > 0) ::kill(static_cast<pid_t>(child.pid), SIGINT);
}

std::vector<ChildOutput> read_children(std::vector<ChildProcess*>& children, int timeout_ms) {
  std::vector<pollfd> fds;
  std::vector<std::pair<std::size_t, bool>> owner;
  for (std::size_t k = 0; k < children.size(); ++k) {
    if (children[k]->out >= 0) {
      fds.push_back({static_cast<int>(children[k]->out), POLLIN, 0});
      owner.push_back({k, false});
    }
    if (children[k]->err >= 0) {
      fds.push_back({static_cast<int>(children[k]->err), POLLIN, 0});
      owner.push_back({k, true});
    }
  }
  std::vector<ChildOutput> got;
  if (::poll(fds.data(), fds.size(), timeout_ms) < 0) {
    if (errno == EINTR) return got;
    throw RunError("Erro: falha ao acompanhar as execuções (" + error_reason(errno) + ").");
  }
  for (std::size_t f = 0; f < fds.size(); ++f) {
    if (fds[f].revents == 0) continue;
    ChildOutput o;
    o.child = owner[f].first;
    o.is_err = owner[f].second;
    char buf[8192];
    const ssize_t n = ::read(fds[f].fd, buf, sizeof buf);
    if (n > 0) {
      o.data.assign(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      ::close(fds[f].fd);
      ChildProcess& c = *children[o.child];
      (o.is_err ? c.err : c.out) = -1;
      o.closed = true;
    } else {
      continue;
    }
    got.push_back(std::move(o));
  }
  return got;
}

std::string executable_folder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().string();
}

}  // namespace tx
