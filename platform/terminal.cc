#include "platform/terminal.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <string>

#include "platform/files.h"
#include "platform/platform.h"

namespace annc::terminal {
namespace {

// A terminal whose settings this process changed, and what they were.
struct Held {
  termios saved{};
  volatile sig_atomic_t fd = -1;  // -1: nothing held
};
Held keyboard;
Held line;

// The title's bytes (kSaveTitle, then the title sequence) are complete
// before `titleSet` is raised and never change after; `titleShown` while
// the terminal shows them and the user's title waits on its stack.
std::string titleBytes;
volatile sig_atomic_t titleSet = 0;
volatile sig_atomic_t titleShown = 0;

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
bool handlersInstalled = false;

sigset_t SignalSet(std::initializer_list<int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : signals) sigaddset(&set, s);
  return set;
}

// Job control stops a background process that reads its terminal (SIGTTIN)
// or changes it (SIGTTOU). Blocked, neither is sent: the change is made
// and the read fails, so nothing here can stop the process.
sigset_t JobSignals() { return SignalSet({SIGTTIN, SIGTTOU}); }

// Every signal whose handler below touches the state above, and the job
// signals: the main line changes the state with all of them blocked.
sigset_t AllSignals() {
  sigset_t set = JobSignals();
  for (int s : kEndSignals) sigaddset(&set, s);
  sigaddset(&set, SIGTSTP);
  sigaddset(&set, SIGCONT);
  return set;
}

// Blocks signals for its lifetime; safe inside a signal handler.
class Blocked {
 public:
  explicit Blocked(const sigset_t& set) { ::sigprocmask(SIG_BLOCK, &set, &previous_); }
  ~Blocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  Blocked(const Blocked&) = delete;
  Blocked& operator=(const Blocked&) = delete;

 private:
  sigset_t previous_;
};

// The steps below are async-signal-safe; their callers block what they
// need blocked.

// Puts `settings` back whole, as well as the terminal takes them.
void Restore(int fd, const termios& settings) {
  while (::tcsetattr(fd, TCSANOW, &settings) != 0 && errno == EINTR) {
  }
}

// Applies a change and reads it back; a change that took only in part is
// undone (`previous` put back) and fails with EINVAL.
int Change(int fd, const termios& settings, const TermiosFields& fields, const termios& previous) {
  int error = SetTerminalSettings(fd, settings, fields);
  if (error == EINVAL) Restore(fd, previous);
  return error;
}

void PutBack(Held& held) {
  int fd = held.fd;
  if (fd < 0) return;
  held.fd = -1;
  Restore(fd, held.saved);
}

void TakeKeyboardNow() {
  termios now;
  if (keyboard.fd >= 0 || ::tcgetattr(STDIN_FILENO, &now) != 0 || !InForeground(STDIN_FILENO)) {
    return;
  }
  // One key is there as soon as it is typed, and is not echoed over the
  // announcement. Ctrl-C, Ctrl-Z and Ctrl-\ keep their signals.
  termios keys = now;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  TermiosFields fields;
  fields.lflag = ICANON | ECHO;
  fields.minAndTime = true;
  keyboard.saved = now;
  keyboard.fd = STDIN_FILENO;
  if (Change(STDIN_FILENO, keys, fields, now) != 0) keyboard.fd = -1;
}

// True when the title is to be written now.
bool TitleDue() {
  if (!titleSet || titleShown || !InForeground(STDOUT_FILENO)) return false;
  titleShown = 1;
  return true;
}

// True when the user's title is to be popped now.
bool TitleBackDue() {
  if (!titleShown) return false;
  titleShown = 0;
  return true;
}

void TakeConsoleNow() {
  TakeKeyboardNow();
  if (TitleDue()) (void)WriteAll(STDOUT_FILENO, titleBytes);
}

void GiveConsoleBackNow() {
  if (TitleBackDue()) (void)WriteAll(STDOUT_FILENO, kRestoreTitle);
  PutBack(keyboard);
}

void OnEndSignal(int signalNumber) {
  PutBack(line);
  GiveConsoleBackNow();
  // Ends the process with the signal's own default action once the
  // handler returns (the signal is blocked until then).
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

void OnStop(int) {
  int savedErrno = errno;
  GiveConsoleBackNow();
  // Stops as the default action does. The process goes on here when it is
  // continued, or at once where nothing may stop it (a process group that
  // no shell controls), and takes the console again if it is in front.
  struct sigaction stop {};
  struct sigaction mine {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  ::sigaction(SIGTSTP, &stop, &mine);
  sigset_t tstp = SignalSet({SIGTSTP});
  ::sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
  ::raise(SIGTSTP);
  ::sigprocmask(SIG_BLOCK, &tstp, nullptr);
  ::sigaction(SIGTSTP, &mine, nullptr);
  TakeConsoleNow();
  errno = savedErrno;
}

void OnContinue(int) {
  int savedErrno = errno;
  TakeConsoleNow();
  errno = savedErrno;
}

void Install(int signalNumber, void (*handler)(int)) {
  struct sigaction previous {};
  // A signal ignored since the start (nohup, a background job of a shell
  // without job control) is meant to be ignored.
  if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_mask = AllSignals();
  action.sa_flags = SA_RESTART;
  ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

bool InForeground(int fd) {
  pid_t group = ::tcgetpgrp(fd);
  return group < 0 || group == ::getpgrp();
}

void InstallSignalHandlers() {
  if (handlersInstalled) return;
  handlersInstalled = true;
  for (int s : kEndSignals) Install(s, OnEndSignal);
  Install(SIGTSTP, OnStop);
  Install(SIGCONT, OnContinue);
}

void TakeConsole() {
  InstallSignalHandlers();
  bool titleDue;
  {
    Blocked blocked(AllSignals());
    TakeKeyboardNow();
    titleDue = TitleDue();
  }
  // Written unblocked: a terminal held by Ctrl-S may keep the write waiting,
  // and Ctrl-C must still end the process then.
  if (titleDue) (void)WriteAll(STDOUT_FILENO, titleBytes);
}

int ShowTitle(std::string_view sequence) {
  InstallSignalHandlers();
  bool due;
  {
    Blocked blocked(AllSignals());
    if (titleSet) return 0;  // the title is set once
    titleBytes.assign(kSaveTitle);
    titleBytes.append(sequence);
    titleSet = 1;
    due = TitleDue();
  }
  return due ? WriteAll(STDOUT_FILENO, titleBytes) : 0;
}

void GiveConsoleBack() {
  bool titleBackDue;
  {
    Blocked blocked(AllSignals());
    PutBack(keyboard);
    titleBackDue = TitleBackDue();
  }
  if (titleBackDue) {
    Blocked blocked(JobSignals());
    (void)WriteAll(STDOUT_FILENO, kRestoreTitle);
  }
}

int TakeLine(int fd, const termios& saved, const termios& raw, const TermiosFields& changed) {
  InstallSignalHandlers();
  Blocked blocked(AllSignals());
  line.saved = saved;
  line.fd = fd;
  int error = Change(fd, raw, changed, saved);
  if (error != 0) line.fd = -1;
  return error;
}

void GiveLineBack() {
  Blocked blocked(AllSignals());
  PutBack(line);
}

int ReadKeyboardByte(unsigned char* byte, int timeoutMs) {
  Blocked blocked(JobSignals());
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int ready;
  while ((ready = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  if (ready <= 0 || (p.revents & (POLLIN | POLLHUP)) == 0) return 0;
  ssize_t n;
  while ((n = ::read(STDIN_FILENO, byte, 1)) < 0 && errno == EINTR) {
  }
  return n == 1 ? 1 : -1;
}

}  // namespace annc::terminal
