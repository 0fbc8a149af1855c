// Child processes of the study tools.
#include "plataforma/plataforma.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/erro.hpp"

namespace tx {

namespace {

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const std::string& program, char* const* argv,
                             const std::string& folder, int out, int err) {
  // The parent may ignore SIGPIPE; the program gets the usual behaviour.
  std::signal(SIGPIPE, SIG_DFL);
  const int null_in = ::open("/dev/null", O_RDONLY);
  if (null_in >= 0) ::dup2(null_in, 0);
  if (::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
  if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(127);
  ::execvp(program.c_str(), argv);
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
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(program, argv.data(), folder, po[1], pe[1]);
  ::close(po[1]);
  ::close(pe[1]);
  if (pid < 0) {
    ::close(po[0]);
    ::close(pe[0]);
    throw RunError("Erro: não foi possível criar um processo (" +
                   std::string(std::strerror(errno)) + ").");
  }
  return {static_cast<int>(pid), po[0], pe[0]};
}

int wait_process(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
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
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(program, argv.data(), folder, null_out, null_out);
  ::close(null_out);
  if (pid < 0) return 127;
  return wait_process(static_cast<int>(pid));
}

void signal_process(int pid, int signal) {
  if (pid > 0) ::kill(static_cast<pid_t>(pid), signal);
}

std::string executable_folder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().string();
}

}  // namespace tx
