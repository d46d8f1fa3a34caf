#include "web/options.h"

#include <arpa/inet.h>

#include <functional>

namespace annc::web {

const char kWebHelp[] =
    "Usage: annc-web [OPTION]...\n"
    "Shows annc-line's call history as web pages.\n"
    "\n"
    "  --history FILE         the call history (default: annc-line's: $STATE_DIRECTORY/calls.db,\n"
    "                         else $XDG_STATE_HOME/annc/calls.db, else ~/.local/state/annc/calls.db,\n"
    "                         else /var/lib/annc/calls.db); opened read-only\n"
    "  --block FILE           a block list (repeatable)\n"
    "  --allow FILE           an allow list (repeatable)\n"
    "  --book FILE            the phone book\n"
    "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8080; IPv6 in brackets, [::1]:8080);\n"
    "                         an address other than loopback needs --password-file\n"
    "  --password-file FILE   the login's password, the line --hash-password prints; turns the login on\n"
    "  --host-name NAME       a further name the pages are reached by (repeatable); requests naming\n"
    "                         any other host are refused\n"
    "  --hash-password        read a password from standard input and print its hash line\n"
    "  --help                 show this help\n"
    "  --version              show the version\n"
    "\n"
    "Exit status: 0 ended by SIGINT or SIGTERM (or --help, --version, --hash-password done),\n"
    "1 the history cannot be opened or the address cannot be listened on, 2 a usage error.\n";

bool ParseListen(const std::string& text, std::string* host, int* port) {
  std::size_t colon;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    *host = text.substr(1, close - 1);
    colon = close + 1;
    in6_addr address;
    if (inet_pton(AF_INET6, host->c_str(), &address) != 1) return false;
  } else {
    colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    *host = text.substr(0, colon);
    in_addr address;
    if (inet_pton(AF_INET, host->c_str(), &address) != 1) return false;
  }
  std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

bool IsLoopbackAddress(const std::string& host) {
  in_addr v4;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

bool ParseWebOptions(const std::vector<std::string>& args, WebOptions* options, std::string* error) {
  struct Option {
    const char* name;
    bool takesValue;
    std::function<bool(const std::string&)> take;
  };
  const Option table[] = {
      {"--history", true, [&](const std::string& v) { return options->history = v, true; }},
      {"--block", true, [&](const std::string& v) { return options->block.push_back(v), true; }},
      {"--allow", true, [&](const std::string& v) { return options->allow.push_back(v), true; }},
      {"--book", true, [&](const std::string& v) { return options->book = v, true; }},
      {"--listen", true,
       [&](const std::string& v) {
         if (ParseListen(v, &options->listenHost, &options->port)) return true;
         *error = "--listen " + v + ": not a numeric ADDRESS:PORT (IPv6 in brackets)";
         return false;
       }},
      {"--password-file", true, [&](const std::string& v) { return options->passwordFile = v, true; }},
      {"--host-name", true,
       [&](const std::string& v) {
         if (!v.empty() && v.size() <= 253 && v.find_first_of(" /:@[]") == std::string::npos) {
           options->hostNames.push_back(v);
           return true;
         }
         *error = "--host-name " + v + ": not a host name";
         return false;
       }},
      {"--hash-password", false, [&](const std::string&) { return options->action = WebOptions::kHashPassword, true; }},
      {"--help", false, [&](const std::string&) { return options->action = WebOptions::kHelp, true; }},
      {"--version", false, [&](const std::string&) { return options->action = WebOptions::kVersion, true; }},
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool inlineValue = false;
    if (std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      inlineValue = true;
    }
    const Option* found = nullptr;
    for (const Option& option : table) {
      if (arg == option.name) found = &option;
    }
    if (found == nullptr) {
      *error = "unknown option " + args[i] + " (see --help)";
      return false;
    }
    if (found->takesValue && !inlineValue) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value (see --help)";
        return false;
      }
      value = args[++i];
    } else if (!found->takesValue && inlineValue) {
      *error = arg + " takes no value";
      return false;
    }
    if (found->takesValue && value.empty()) {
      *error = arg + " needs a value that is not empty";
      return false;
    }
    if (!found->take(value)) return false;
    if (options->action == WebOptions::kHelp || options->action == WebOptions::kVersion) return true;
  }
  if (options->action == WebOptions::kServe && options->passwordFile.empty() &&
      !IsLoopbackAddress(options->listenHost)) {
    *error = "--listen " + options->listenHost + ": not a loopback address, so it needs --password-file";
    return false;
  }
  return true;
}

}  // namespace annc::web
