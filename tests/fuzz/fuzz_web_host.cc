// annc-web's checks of the Host and Origin headers, on arbitrary bytes. The
// names answered for are few, so the Host headers let in can be listed: a
// name (case aside), alone or with ":" and the port listened on. Checked:
// - the input as a Host header: let in exactly when it is one of that list;
// - the input split into Origin and Host: a same origin exactly when the
//   Host is let in and the Origin is "http://" and the Host, case aside.
// Both for a listener on a named address and one on a wildcard address.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "web/auth/host_check.h"

namespace {

using fuzz::Fail;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

struct Listener {
  std::string host;
  int port;
  std::vector<std::string> names;
  std::set<std::string> allowed;  // every Host header let in, lower case
};

std::vector<Listener> MakeListeners() {
  std::vector<Listener> listeners = {
      {"192.168.1.20", 8080, {"annc.Home.arpa", "fe80::1"}, {}},
      {"::", 80, {"phone"}, {}},
  };
  for (Listener& l : listeners) {
    std::vector<std::string> names = {"localhost", "127.0.0.1", "[::1]"};
    if (l.host != "::" && l.host != "0.0.0.0") names.push_back(l.host);
    for (const std::string& name : l.names) names.push_back(name.find(':') != std::string::npos ? "[" + name + "]" : name);
    for (const std::string& name : names) {
      l.allowed.insert(Lower(name));
      l.allowed.insert(Lower(name) + ":" + std::to_string(l.port));
    }
  }
  return listeners;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<Listener> listeners = MakeListeners();
  if (size > 4096) return 0;
  std::string_view whole(reinterpret_cast<const char*>(data), size);
  FuzzedDataProvider input(data, size);
  std::string origin = input.ConsumeRandomLengthString(300);
  std::string host = input.ConsumeRemainingBytesAsString();
  for (const Listener& l : listeners) {
    annc::web::HostCheck check(l.host, l.port, l.names);
    for (std::string_view header : {whole, std::string_view(host), std::string_view(origin)}) {
      bool expected = l.allowed.count(Lower(header)) != 0;
      if (check.Allowed(std::string(header)) != expected) {
        Fail(expected ? "Host refused that names this server" : "Host let in that names another", header);
      }
    }
    bool same = check.Allowed(host) && Lower(origin) == "http://" + Lower(host);
    if (check.SameOrigin(origin, host) != same) Fail("Origin judged wrongly", whole);
  }
  return 0;
}
