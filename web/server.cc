#include "web/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace annc::web {
namespace {

// What one connection's request gathers while its body arrives.
struct Pending {
  std::string body;
  bool tooLarge = false;
};

// Headers on every response.
constexpr std::pair<const char*, const char*> kCommonHeaders[] = {
    {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'; form-action 'self'; base-uri 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "same-origin"},
    {"X-Frame-Options", "DENY"},
};

MHD_Result Send(MHD_Connection* connection, const Response& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(answer.body.size(), const_cast<char*>(answer.body.data()),
                                                           MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  for (const auto& [name, value] : kCommonHeaders) MHD_add_response_header(response, name, value);
  for (const auto& [name, value] : answer.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return result;
}

std::string Value(MHD_Connection* connection, MHD_ValueKind kind, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, kind, name);
  return value == nullptr ? std::string() : std::string(value);
}

MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, const char* value) {
  auto* query = static_cast<std::map<std::string, std::string>*>(cls);
  if (query->size() >= kMaxFields) return MHD_NO;
  query->emplace(key, value == nullptr ? "" : value);
  return MHD_YES;
}

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "";
  char text[INET6_ADDRSTRLEN] = "";
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* uploadData, std::size_t* uploadSize, void** state) {
  auto* server = static_cast<WebServer*>(cls);
  if (*state == nullptr) {
    // The headers are in: what can be refused before the body is read is.
    *state = new Pending;
    std::string verb = method;
    if (verb != "GET" && verb != "POST") {
      Response refused = Response::Message(405, "Only GET and POST are answered.");
      refused.headers.emplace_back("Allow", "GET, POST");
      return Send(connection, refused);
    }
    std::string host = Value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (!server->HostAllowed(host)) {
      return Send(connection, Response::Message(421, "This server does not answer for that host name."));
    }
    std::string length = Value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    bool digits = length.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || length.size() > 9 || (!length.empty() && std::stoul(length) > kMaxBodyBytes)) {
      return Send(connection, Response::Message(413, "The request's body is larger than 64 kB."));
    }
    return MHD_YES;
  }
  auto* pending = static_cast<Pending*>(*state);
  if (*uploadSize != 0) {
    // A body past the limit (a chunked one has no length up front) is read
    // and dropped, and answered 413 once it has ended.
    if (!pending->tooLarge && pending->body.size() + *uploadSize <= kMaxBodyBytes) {
      pending->body.append(uploadData, *uploadSize);
    } else {
      pending->tooLarge = true;
      pending->body.clear();
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  if (pending->tooLarge) return Send(connection, Response::Message(413, "The request's body is larger than 64 kB."));
  WebServer::Incoming incoming;
  incoming.method = method;
  incoming.path = url;
  incoming.host = Value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
  incoming.origin = Value(connection, MHD_HEADER_KIND, "Origin");
  incoming.contentType = Value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
  incoming.cookie = Value(connection, MHD_COOKIE_KIND, kSessionCookie);
  incoming.clientAddress = ClientAddress(connection);
  incoming.body = std::move(pending->body);
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectArgument, &incoming.query);
  return Send(connection, server->Answer(incoming));
}

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*state);
  *state = nullptr;
}

// Whether `text` starts with `prefix`, ignoring case.
bool StartsWithCaseless(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

}  // namespace

Response WebServer::Answer(const Incoming& incoming) {
  if (!hosts_.Allowed(incoming.host)) {
    return Response::Message(421, "This server does not answer for that host name.");
  }
  bool pathKnown;
  const Route* route = routes_.Find(incoming.method, incoming.path, &pathKnown);
  if (route == nullptr && pathKnown) {
    Response refused = Response::Message(405, "This page does not take that method.");
    refused.headers.emplace_back("Allow", incoming.method == "GET" ? "POST" : "GET");
    return refused;
  }
  if (route == nullptr) return Response::Message(404, "There is no such page.");

  Request request;
  request.method = incoming.method;
  request.path = incoming.path;
  request.query = incoming.query;
  request.host = incoming.host;
  request.clientAddress = incoming.clientAddress;
  request.loginOn = !context_.passwordHash.empty();
  request.session = context_.sessions->Find(incoming.cookie);
  bool post = incoming.method == "POST";
  if (post) {
    // Every change comes from a form of this program's own pages: the
    // session's token in it and, when the browser says where it comes
    // from, this page's own origin.
    if (request.session == nullptr) return Response::Message(403, "The session has expired: reload the page.");
    if (!incoming.origin.empty() && !hosts_.SameOrigin(incoming.origin, incoming.host)) {
      return Response::Message(403, "The form does not come from this page.");
    }
    if (!StartsWithCaseless(incoming.contentType, "application/x-www-form-urlencoded")) {
      return Response::Message(415, "A form is sent as application/x-www-form-urlencoded.");
    }
    if (!ParseForm(incoming.body, &request.form)) return Response::Message(400, "The form is malformed.");
    if (!TokenMatches(*request.session, request.Field("token"))) {
      return Response::Message(403, "The form's token is not this session's: reload the page.");
    }
  }
  std::string newCookie;
  if (request.session == nullptr) {
    // The first visit gets a session at once, so that forms carry a token
    // even when there is no login.
    Session& session = context_.sessions->Create();
    session.loggedIn = !request.loginOn;
    request.session = &session;
    newCookie = SessionCookie(session);
  }
  Response response;
  if (!route->open && !request.session->loggedIn) {
    response = post ? Response::Message(403, "Log in first.") : Response::Redirect("/login");
  } else {
    response = route->handler(request);
  }
  if (!newCookie.empty()) response.headers.emplace_back("Set-Cookie", newCookie);
  return response;
}

bool WebServer::Start(const std::string& host, int port, std::string* error) {
  bool v6 = host.find(':') != std::string::npos;
  std::string shown = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
  sockaddr_storage address{};
  socklen_t size;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET6, host.c_str(), &a->sin6_addr);
    size = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &a->sin_addr);
    size = sizeof *a;
  }
  // The socket is made here rather than by libmicrohttpd, whose failure
  // says nothing of its cause.
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      (v6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 256) != 0) {
    *error = "cannot listen on " + shown + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  // One polling thread serves every connection without blocking on any:
  // a slow client holds one connection slot, bounded per address and in
  // all, and is dropped when idle for the timeout. One address may hold
  // half the slots (a household behind one router, or a hundred tabs),
  // never all of them.
  daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO, 0, nullptr, nullptr, &Access, this,
                             MHD_OPTION_LISTEN_SOCKET, fd,
                             MHD_OPTION_CONNECTION_LIMIT, 256u,
                             MHD_OPTION_PER_IP_CONNECTION_LIMIT, 128u,
                             MHD_OPTION_CONNECTION_TIMEOUT, 10u,
                             MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(64 * 1024),
                             MHD_OPTION_NOTIFY_COMPLETED, &Completed, nullptr,
                             MHD_OPTION_END);
  if (daemon_ == nullptr) {
    close(fd);
    *error = "cannot serve on " + shown + ": libmicrohttpd did not start";
    return false;
  }
  return true;
}

void WebServer::Stop() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace annc::web
