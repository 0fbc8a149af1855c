// The platform layer on Windows (Win32, built with mingw-w64).
//
// Names cross the boundary as UTF-8 (the executables declare UTF-8 as their
// code page, so argv and getenv arrive in it) and go to the system through
// the wide-character calls, decoded by file_path's rule.
#include "plataforma/plataforma.hpp"

#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <thread>

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <quadmath.h>

#include "base/erro.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

// Program text to UTF-16: well-formed UTF-8 sequences decoded, any other
// byte taken as Latin-1 (a case name read from a Latin-1 data file).
std::wstring widen(std::string_view s) {
  std::wstring w;
  w.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    char32_t cp = 0;
    std::size_t len = utf8_sequence(s, i, cp);
    // Surrogates and values past U+10FFFF are not UTF-8 either.
    if (len == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      cp = static_cast<unsigned char>(s[i]);
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      w.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      w.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      w.push_back(static_cast<wchar_t>(cp));
    }
    i += len;
  }
  return w;
}

std::string narrow(std::wstring_view w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
  return s;
}

// The system's reason for the last failure, in the system's language.
std::string last_error_text() {
  const DWORD code = ::GetLastError();
  wchar_t* buf = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text = n > 0 ? narrow(std::wstring_view(buf, n)) : std::string();
  if (buf != nullptr) ::LocalFree(buf);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.'))
    text.pop_back();
  return text.empty() ? "erro " + std::to_string(code) : text;
}

// One argument quoted for CommandLineToArgvW and the C runtime's parser.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (std::size_t i = 0;; ++i) {
    std::size_t slashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++i;
      ++slashes;
    }
    if (i == arg.size()) {
      line.append(slashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line.append(slashes * 2 + 1, L'\\');
    } else {
      line.append(slashes, L'\\');
    }
    line += arg[i];
  }
  line += L'"';
}

std::wstring command_line_of(const std::string& program, const std::vector<std::string>& args) {
  std::wstring line;
  append_quoted(line, widen(program));
  for (const auto& a : args) {
    line += L' ';
    append_quoted(line, widen(a));
  }
  return line;
}

HANDLE open_null(DWORD access) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0,
                       nullptr);
}

// Starts a process with the given standard handles (inherited; the caller
// made them inheritable). False when the system could not start it.
bool create_process(std::wstring line, const std::string& folder, HANDLE in, HANDLE out,
                    HANDLE err, DWORD flags, PROCESS_INFORMATION& pi) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  const std::wstring dir = widen(folder);
  return ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                          folder.empty() ? nullptr : dir.c_str(), &si, &pi) != 0;
}

int wait_handle(HANDLE h) {
  ::WaitForSingleObject(h, INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(h, &code)) return -1;
  return static_cast<int>(code);
}

// Console events arrive on a thread of their own; the flag is the one piece
// of process-wide data, as on POSIX, and the states only point to it.
volatile std::sig_atomic_t g_stop = 0;

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:  // what the study sends to each run's group
      g_stop = 1;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Returning would end the process now. Holding this thread lets the
      // run finish its iteration and write its files; the process ends when
      // the program returns, or when the system's grace period runs out.
      g_stop = 1;
      ::Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

// The stop request of interrupt_process for a process without a console
// to share (a study started from a service, an IDE's pipes, Wine without a
// terminal), where console events reach nobody: an event named after the
// process, which a thread of the process waits on.
std::wstring stop_event_name(DWORD pid) { return L"Local\\tubrix-parar-" + std::to_wstring(pid); }

bool watch_stop_event() {
  HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, stop_event_name(::GetCurrentProcessId()).c_str());
  if (h == nullptr) return false;
  std::thread([h] {
    ::WaitForSingleObject(h, INFINITE);
    g_stop = 1;
  }).detach();
  return true;
}

}  // namespace

void prepare_console() {
  // UTF-8 in and out; a console that cannot take it keeps its code page.
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

bool on_path(const std::string& program) {
  wchar_t found[MAX_PATH];
  return ::SearchPathW(nullptr, widen(program).c_str(), L".exe", MAX_PATH, found, nullptr) > 0;
}

int run_command(std::string_view command_line) {
  const std::string line = mapped_command(trimmed(command_line));
  if (line.empty()) return 127;
  std::wstring shell = L"cmd.exe";
  if (const wchar_t* comspec = ::_wgetenv(L"COMSPEC"); comspec != nullptr && *comspec != L'\0')
    shell = comspec;
  std::wstring cmd;
  append_quoted(cmd, shell);
  cmd += L" /c ";
  cmd += widen(line);
  std::fflush(nullptr);
  // The started program shares this console and its standard handles.
  PROCESS_INFORMATION pi{};
  if (!create_process(cmd, "", ::GetStdHandle(STD_INPUT_HANDLE),
                      ::GetStdHandle(STD_OUTPUT_HANDLE), ::GetStdHandle(STD_ERROR_HANDLE), 0,
                      pi))
    return 127;
  ::CloseHandle(pi.hThread);
  const int status = wait_handle(pi.hProcess);
  ::CloseHandle(pi.hProcess);
  return status;
}

bool has_display() {
  // A process of the interactive desktop can open windows; a service cannot.
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station == nullptr ||
      !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
    return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

std::array<int, 6> local_calendar() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

volatile std::sig_atomic_t* catch_stop_signals(bool /*interrupt_waits*/) {
  g_stop = 0;
  // A process started in a group of its own (as the study starts its runs)
  // has Ctrl-C turned off; turn it back on, then take the events here.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
  static const bool watching = watch_stop_event();  // once per process
  (void)watching;
  return &g_stop;
}

// Windows has no SIGPIPE: a write to a closed pipe fails by itself.
void ignore_broken_pipe() {}

void set_environment(const std::string& name, const std::string& value) {
  // Both the C runtime's copy (getenv) and the one children inherit.
  const std::wstring n = widen(name), v = widen(value);
  ::_wputenv_s(n.c_str(), v.c_str());
  ::SetEnvironmentVariableW(n.c_str(), v.c_str());
}

long long memory_available() {
  MEMORYSTATUSEX ms{};
  ms.dwLength = sizeof ms;
  if (!::GlobalMemoryStatusEx(&ms)) return LLONG_MAX;
  // What may still be committed (memory and page file), within the free
  // address space of this process.
  unsigned long long have = ms.ullAvailPageFile;
  if (ms.ullAvailVirtual < have) have = ms.ullAvailVirtual;
  return have > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX
                                                           : static_cast<long long>(have);
}

std::filesystem::path file_path(const std::string& name) { return widen(name); }

std::FILE* open_file(const std::string& name, const char* mode) {
  return ::_wfopen(widen(name).c_str(), widen(mode).c_str());
}

bool replace_file(const std::string& from, const std::string& to) {
  return ::MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string file_name_problem(const std::string& name) {
  if (name.find(':') != std::string::npos)
    return "um nome sem letra de unidade nem dois-pontos (:)";
  for (const char ch : name)
    if (static_cast<unsigned char>(ch) < 32 || std::strchr("<>\"|?*", ch) != nullptr)
      return "um nome sem os caracteres < > \" | ? * nem caracteres de controle";
  // The system takes "NUL.txt" for the null device, as it takes "NUL".
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& ch : stem) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const bool numbered = stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
                        stem[3] >= '1' && stem[3] <= '9';
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
      stem == "CONOUT$" || numbered)
    return "um nome que não seja de dispositivo do Windows (CON, PRN, AUX, NUL, COM1 a COM9, "
           "LPT1 a LPT9)";
  return {};
}

FileId identify(const std::string& path) {
  FileId id;
  const std::wstring w = widen(path);
  const DWORD attrs = ::GetFileAttributesW(w.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return id;
  // A symbolic link or junction is there even when what it names is not.
  id.exists = true;
  id.link = (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // No access asked for: a file open in another program is still seen.
  HANDLE h = ::CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(h, &info)) {
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                 ::GetFileType(h) == FILE_TYPE_DISK;
  }
  ::CloseHandle(h);
  return id;
}

namespace {

// The common Win32 error codes in the words error_reason uses for errno.
std::string win32_reason(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD: return "permissão negada";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return "o arquivo ou a pasta não existe";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "já existe um arquivo ou uma pasta com esse nome";
    case ERROR_DIRECTORY: return "uma parte do caminho não é uma pasta";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "o arquivo está em uso por outro programa";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "o disco está cheio";
    case ERROR_WRITE_PROTECT: return "o disco está protegido contra gravação";
    case ERROR_FILENAME_EXCED_RANGE: return "o nome é longo demais";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return "o nome não é válido no Windows";
    case ERROR_TOO_MANY_OPEN_FILES: return "arquivos abertos demais";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "falta memória";
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME: return "é um link simbólico";
    case ERROR_DELETE_PENDING: return "o arquivo está sendo apagado";
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT: return "erro de leitura ou gravação no disco";
    default: return "erro do sistema " + std::to_string(code);
  }
}

std::FILE* failed_handle(HANDLE h, DWORD code, std::string* why) {
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (why != nullptr) *why = win32_reason(code);
  return nullptr;
}

// A C stream on an open handle; the stream owns the handle from then on.
std::FILE* stream_of(HANDLE h, int flags, const char* mode, std::string* why) {
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(h), flags | _O_BINARY);
  if (fd < 0) return failed_handle(h, ERROR_TOO_MANY_OPEN_FILES, why);
  std::FILE* f = ::_fdopen(fd, mode);
  if (f == nullptr) {
    ::_close(fd);
    if (why != nullptr) *why = error_reason(errno);
  }
  return f;
}

bool is_link_handle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The sharing the C library's own opens give, so that a reader elsewhere
// (an editor, the plotting program) does not block the program's writes.
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

std::FILE* open_new_file(const std::string& path, std::string* why) {
  // CREATE_NEW fails on any existing entry; with the reparse-point flag a
  // symbolic link there, dangling or not, is that entry and never followed.
  HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_WRITE, kShareReadWrite, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return failed_handle(h, ::GetLastError(), why);
  std::FILE* f = stream_of(h, _O_WRONLY, "wb", why);
  if (f == nullptr) ::DeleteFileW(widen(path).c_str());
  return f;
}

std::FILE* open_for_writing(const std::string& path, std::string* why) {
  // The name itself is opened (a link is not followed) and refused when it
  // is a link; only then is the file emptied.
  HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_WRITE, kShareReadWrite, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return failed_handle(h, ::GetLastError(), why);
  if (is_link_handle(h)) {
    ::CloseHandle(h);
    if (why != nullptr) *why = "é um link simbólico";
    return nullptr;
  }
  if (!::SetEndOfFile(h)) return failed_handle(h, ::GetLastError(), why);
  return stream_of(h, _O_WRONLY, "wb", why);
}

std::FILE* open_regular_file(const std::string& path, std::string* why) {
  // Backup semantics so that a folder opens too and is told apart; a
  // device or a pipe is refused by its type before anything is read.
  HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ,
                           kShareReadWrite | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return failed_handle(h, ::GetLastError(), why);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = ::GetFileType(h) == FILE_TYPE_DISK;
  if (!disk || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    const bool folder = disk && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ::CloseHandle(h);
    if (why != nullptr) *why = folder ? "é uma pasta" : "não é um arquivo comum";
    return nullptr;
  }
  return stream_of(h, _O_RDONLY, "rb", why);
}

LockResult take_lock(const std::string& path, FileLock& lock, std::string* why) {
  // The lock is the open file itself: opened with no sharing, any other
  // open of it fails until every handle is closed. The handle is
  // inheritable, so the runs started afterwards hold it too and the lock
  // outlives a killed holder while its runs go on; the system closes it
  // when they die. Delete-on-close removes the file with the last handle.
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  const std::wstring w = widen(path);
  for (int attempt = 0; attempt < 10; ++attempt) {
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, &sa,
                             OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                                 FILE_FLAG_DELETE_ON_CLOSE,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        return LockResult::Busy;
      // A lock file its last holder just released may still be on its way
      // out: the open is retried a few times.
      if (code == ERROR_ACCESS_DENIED || code == ERROR_DELETE_PENDING) {
        ::Sleep(50);
        if (attempt < 9) continue;
      }
      if (why != nullptr) *why = win32_reason(code);
      return LockResult::Failed;
    }
    if (is_link_handle(h)) {
      // Not this program's lock file: closing must not delete the link.
      FILE_DISPOSITION_INFO keep{FALSE};
      ::SetFileInformationByHandle(h, FileDispositionInfo, &keep, sizeof keep);
      ::CloseHandle(h);
      if (why != nullptr) *why = "é um link simbólico";
      return LockResult::Failed;
    }
    lock.handle = reinterpret_cast<std::intptr_t>(h);
    lock.path = path;
    return LockResult::Taken;
  }
  if (why != nullptr) *why = "o arquivo de trava muda sem parar";
  return LockResult::Failed;
}

void release_lock(FileLock& lock) {
  if (lock.handle == -1) return;
  // Delete-on-close removes the file when the last handle (this one, once
  // the runs have ended) is closed.
  ::CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
  lock.handle = -1;
}

bool is_writable(const std::string& path, std::string* why) {
  const std::wstring w = widen(path);
  // The attribute first: an administrator's open would pass it (and Wine
  // run as root does), but the file's replacement would not.
  const DWORD attrs = ::GetFileAttributesW(w.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0 &&
      (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (why != nullptr) *why = "marcado como somente leitura";
    return false;
  }
  // Opening for writing, with the sharing the program's own writes use,
  // tells both a file without write permission and one that another program
  // holds open (a spreadsheet, an editor) from a writable one. Nothing is
  // changed.
  HANDLE h = ::CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (why != nullptr) *why = last_error_text();
    return false;
  }
  ::CloseHandle(h);
  return true;
}

bool folder_takes_new_files(const std::string& folder, std::string* why) {
  // Permissions on Windows are lists the program cannot reason about: a
  // file is made and removed (by the system, on closing) instead.
  std::wstring probe = widen(folder);
  if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
  probe += L".tubrix-" + std::to_wstring(::GetCurrentProcessId()) + L".sonda";
  HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (why != nullptr) *why = last_error_text();
    return false;
  }
  ::CloseHandle(h);
  return true;
}

bool is_executable(const std::string& path) {
  // A program named without its extension, as the study names tubrix.
  for (const std::wstring& w : {widen(path), widen(path + ".exe")}) {
    const DWORD attrs = ::GetFileAttributesW(w.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
  }
  return false;
}

bool flush_to_disk(std::FILE* f) {
  const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
  return h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h) != 0;
}

ChildProcess start_process(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder) {
  // Read ends stay in this process; the write ends and the null input are
  // inherited by the child alone (processes are started from one thread).
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out_r = nullptr, out_w = nullptr, err_r = nullptr, err_w = nullptr;
  if (!::CreatePipe(&out_r, &out_w, &sa, 0))
    throw RunError("Erro: não foi possível criar um processo (" + last_error_text() + ").");
  if (!::CreatePipe(&err_r, &err_w, &sa, 0)) {
    ::CloseHandle(out_r);
    ::CloseHandle(out_w);
    throw RunError("Erro: não foi possível criar um processo (" + last_error_text() + ").");
  }
  ::SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = open_null(GENERIC_READ);
  PROCESS_INFORMATION pi{};
  // A group of its own, so that interrupt_process reaches this run alone;
  // held until its stop event exists, so that no request can come too early.
  const bool started = create_process(command_line_of(program, args), folder, null_in, out_w,
                                      err_w, CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, pi);
  if (null_in != INVALID_HANDLE_VALUE) ::CloseHandle(null_in);
  ::CloseHandle(out_w);
  ::CloseHandle(err_w);
  if (!started) {
    // As a program that cannot be executed on POSIX: no output, status 127.
    ::CloseHandle(out_r);
    ::CloseHandle(err_r);
    return {};
  }
  HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, stop_event_name(pi.dwProcessId).c_str());
  ::ResumeThread(pi.hThread);
  ::CloseHandle(pi.hThread);
  ChildProcess c;
  c.stop = stop == nullptr ? -1 : reinterpret_cast<std::intptr_t>(stop);
  c.pid = static_cast<long long>(pi.dwProcessId);
  c.out = reinterpret_cast<std::intptr_t>(out_r);
  c.err = reinterpret_cast<std::intptr_t>(err_r);
  c.handle = reinterpret_cast<std::intptr_t>(pi.hProcess);
  return c;
}

int wait_process(const ChildProcess& child) {
  if (child.handle == -1) return 127;
  const auto h = reinterpret_cast<HANDLE>(child.handle);
  const int status = wait_handle(h);
  ::CloseHandle(h);
  if (child.stop != -1) ::CloseHandle(reinterpret_cast<HANDLE>(child.stop));
  return status;
}

int run_quietly(const std::string& program, const std::vector<std::string>& args,
                const std::string& folder) {
  HANDLE null_out = open_null(GENERIC_WRITE);
  HANDLE null_in = open_null(GENERIC_READ);
  PROCESS_INFORMATION pi{};
  const bool started =
      create_process(command_line_of(program, args), folder, null_in, null_out, null_out, 0, pi);
  if (null_out != INVALID_HANDLE_VALUE) ::CloseHandle(null_out);
  if (null_in != INVALID_HANDLE_VALUE) ::CloseHandle(null_in);
  if (!started) return 127;
  ::CloseHandle(pi.hThread);
  const int status = wait_handle(pi.hProcess);
  ::CloseHandle(pi.hProcess);
  return status;
}

void interrupt_process(const ChildProcess& child) {
  // Ctrl-Break to the child's own group (Ctrl-C cannot be sent to a group),
  // and its stop event for when there is no console to carry that.
  if (child.pid > 0)
    ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(child.pid));
  if (child.stop != -1) ::SetEvent(reinterpret_cast<HANDLE>(child.stop));
}

std::vector<ChildOutput> read_children(std::vector<ChildProcess*>& children, int timeout_ms) {
  // Anonymous pipes cannot be waited on together: look at each in turn,
  // with short sleeps, until something arrives, the time is up or a stop
  // event came.
  std::vector<ChildOutput> got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    bool any_open = false;
    for (std::size_t k = 0; k < children.size(); ++k) {
      for (const bool is_err : {false, true}) {
        std::intptr_t& fd = is_err ? children[k]->err : children[k]->out;
        if (fd == -1) continue;
        any_open = true;
        const auto h = reinterpret_cast<HANDLE>(fd);
        DWORD avail = 0;
        ChildOutput o;
        o.child = k;
        o.is_err = is_err;
        if (::PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr)) {
          if (avail == 0) continue;
          char buf[8192];
          DWORD n = 0;
          if (::ReadFile(h, buf, avail < sizeof buf ? avail : DWORD{sizeof buf}, &n, nullptr) &&
              n > 0) {
            o.data.assign(buf, n);
            got.push_back(std::move(o));
            continue;
          }
        }
        // The writer closed its end (or the pipe broke): the end of it.
        ::CloseHandle(h);
        fd = -1;
        o.closed = true;
        got.push_back(std::move(o));
      }
    }
    if (!got.empty() || !any_open || g_stop != 0 || std::chrono::steady_clock::now() >= end)
      return got;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string executable_folder() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  return narrow(std::filesystem::path(buf).parent_path().native());
}

}  // namespace tx

// The C library's pow and log, replaced at link time (--wrap, see
// CMakeLists.txt): mingw-w64's round the extended-precision result to
// double and so differ from glibc's, which are correctly rounded but in
// rare cases, about once in a thousand calls. Rounded from quadruple
// precision they are correctly rounded too, and the Windows build computes
// what the Linux one does. One such last-bit difference in the Newton
// iteration for the Mach number at the throat, where it converges only
// linearly, changes that Mach number by 1e-8.
extern "C" double __wrap_pow(double x, double y) {
  return static_cast<double>(::powq(static_cast<__float128>(x), static_cast<__float128>(y)));
}
extern "C" double __wrap_log(double x) {
  return static_cast<double>(::logq(static_cast<__float128>(x)));
}
