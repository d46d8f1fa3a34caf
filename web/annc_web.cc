#include "web/annc_web.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>

#include "line/history/history_file.h"
#include "posix/posix_line_system.h"
#include "posix/systemd_notify.h"
#include "web/auth/host_check.h"
#include "web/auth/password.h"
#include "web/options.h"
#include "web/pages.h"
#include "web/server.h"

#ifndef ANNC_LINE_VERSION
#define ANNC_LINE_VERSION "unknown"
#endif

namespace annc::web {
namespace {

int Fail(int code, const std::string& line) {
  std::cerr << "annc-web: " << line << "\n";
  return code;
}

// The terminal's settings while a password is read with echo off, put back
// on every way out: the normal one and a signal's.
termios savedTerminal;
volatile sig_atomic_t terminalChanged = 0;

void RestoreTerminal() {
  if (terminalChanged) tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  terminalChanged = 0;
}

void RestoreAndDie(int signal) {
  RestoreTerminal();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// One line of standard input, at most 1024 bytes, without its line end.
// False at the end of input or on an overlong line.
bool ReadLine(std::string* line) {
  line->clear();
  char c;
  ssize_t got;
  while ((got = read(STDIN_FILENO, &c, 1)) == 1 || (got < 0 && errno == EINTR)) {
    if (got < 0) continue;
    if (c == '\n') break;
    if (line->size() >= 1024) return false;
    *line += c;
  }
  if (got == 0 && line->empty()) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

int HashPasswordCommand() {
  std::string password, again;
  bool terminal = isatty(STDIN_FILENO) != 0;
  if (terminal) {
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return Fail(kExitFailure, "cannot read the terminal's settings");
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) signal(s, RestoreAndDie);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    terminalChanged = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::cerr << "Password: " << std::flush;
    bool first = ReadLine(&password);
    std::cerr << "\nAgain: " << std::flush;
    bool second = first && ReadLine(&again);
    std::cerr << "\n";
    RestoreTerminal();
    if (!first || !second) return Fail(kExitFailure, "--hash-password: no password read from the terminal");
    if (password != again) return Fail(kExitFailure, "--hash-password: the two passwords differ");
  } else if (!ReadLine(&password)) {
    return Fail(kExitFailure, "--hash-password: no password line on standard input (at most 1024 bytes)");
  }
  if (password.empty()) return Fail(kExitFailure, "--hash-password: the password is empty");
  std::string hash = HashPassword(password);
  if (hash.empty()) return Fail(kExitFailure, "--hash-password: hashing failed (out of memory)");
  std::cout << hash << "\n" << std::flush;
  return std::cout ? 0 : kExitFailure;
}

bool ReadPasswordFile(const std::string& path, std::string* hash, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read the password file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::getline(file, *hash);
  if (!hash->empty() && hash->back() == '\r') hash->pop_back();
  if (!IsPasswordHash(*hash)) {
    *error = "the password file " + path + " holds no line that annc-web --hash-password prints";
    return false;
  }
  return true;
}

}  // namespace

int RunAnncWeb(int argc, char** argv) {
  WebOptions options;
  std::string error;
  if (!ParseWebOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    return Fail(kExitUsage, error);
  }
  if (options.action == WebOptions::kHelp) return std::cout << kWebHelp << std::flush ? 0 : kExitFailure;
  if (options.action == WebOptions::kVersion) {
    return std::cout << "annc-web " ANNC_LINE_VERSION "\n" << std::flush ? 0 : kExitFailure;
  }
  if (!InitCrypto()) return Fail(kExitFailure, "libsodium cannot be initialized");
  if (options.action == WebOptions::kHashPassword) return HashPasswordCommand();

  WebContext context;
  if (!options.passwordFile.empty() && !ReadPasswordFile(options.passwordFile, &context.passwordHash, &error)) {
    return Fail(kExitFailure, error);
  }
  PhoneBookText book;
  if (!options.book.empty()) {
    // A missing phone book is no error: the pages create it with the first
    // name given.
    if (int code = book.Read(options.book); code != 0 && code != ENOENT) {
      return Fail(kExitFailure, "cannot read the phone book " + options.book + ": " + std::strerror(code));
    }
    context.book = &book;
    context.bookFile = options.book;
  }
  context.blockFiles = options.block;
  context.allowFiles = options.allow;
  std::string historyPath = options.history;
  if (historyPath.empty()) {
    SystemFiles files;
    historyPath = DefaultHistoryFile(files);
  }
  std::unique_ptr<HistoryReader> history = HistoryReader::Open(historyPath, &error);
  if (history == nullptr) return Fail(kExitFailure, error);
  context.history = history.get();
  SessionTable sessions(SteadySeconds());
  LoginThrottle throttle(SteadySeconds());
  context.sessions = &sessions;
  context.throttle = &throttle;
  context.now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };

  RouteTable routes;
  AddPages(routes, context);

  // The signals that end the program are taken by sigwait below; blocked
  // before the server's thread starts, they reach only this one.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  signal(SIGPIPE, SIG_IGN);

  WebServer server(routes, context, HostCheck(options.listenHost, options.port, options.hostNames));
  if (!server.Start(options.listenHost, options.port, &error)) return Fail(kExitFailure, error);
  bool v6 = options.listenHost.find(':') != std::string::npos;
  std::cerr << "annc-web: serving " << historyPath << " on http://"
            << (v6 ? "[" + options.listenHost + "]" : options.listenHost) << ":" << options.port << "/"
            << (context.passwordHash.empty() ? "" : " (login on)") << "\n"
            << std::flush;
  // A Type=notify service is up once the port listens.
  NotifyReady("serving on port " + std::to_string(options.port));
  int signal = 0;
  sigwait(&ending, &signal);
  NotifyStopping();
  server.Stop();
  return kExitSignal;
}

}  // namespace annc::web
