// annc-web's command line.
#ifndef ANNC_WEB_OPTIONS_H_
#define ANNC_WEB_OPTIONS_H_

#include <string>
#include <vector>

namespace annc::web {

// Exit codes, as --help tells them.
constexpr int kExitSignal = 0;   // ended by SIGINT or SIGTERM
constexpr int kExitFailure = 1;  // the history cannot be opened, the port cannot be bound
constexpr int kExitUsage = 2;    // a usage error

struct WebOptions {
  enum Action { kServe, kHelp, kVersion, kHashPassword };
  Action action = kServe;
  std::string history;  // "" for annc-line's default
  std::vector<std::string> block;
  std::vector<std::string> allow;
  std::string book;
  std::string listenHost = "127.0.0.1";  // numeric; IPv6 without brackets
  int port = 8080;
  std::string passwordFile;
  std::vector<std::string> hostNames;
};

// Parses the arguments (without the program's name). False with one line
// in *error on a usage error.
bool ParseWebOptions(const std::vector<std::string>& args, WebOptions* options, std::string* error);
// Splits ADDRESS:PORT (an IPv6 address in brackets); false when it is no
// numeric address with a port 1-65535.
bool ParseListen(const std::string& text, std::string* host, int* port);
// Whether a numeric address is a loopback one (127.0.0.0/8, ::1).
bool IsLoopbackAddress(const std::string& host);

extern const char kWebHelp[];

}  // namespace annc::web

#endif  // ANNC_WEB_OPTIONS_H_
