// A guard for our local HTTP servers (the studio, the WebDriver endpoint). A
// server on the person's machine is reachable by every web page they visit and by
// any slow or careless client, so a guarded server
//
// - accepts a request only when its Host names the server: the address it listens
//   on, a loopback name of it ("localhost", "127.0.0.1", "[::1]"), for a wildcard
//   or non-loopback listen address also the machine's own addresses, and the
//   caller's allowed host names, each with the port (a DNS-rebinding page names
//   its own host instead);
// - refuses a request whose Origin is not the server's own origin, or that a
//   browser marks as sent by another site (Sec-Fetch-Site), so that no web page
//   drives the server;
// - refuses a body above its cap (413) from the Content-Length alone, before any
//   of it is read; a body without a Content-Length (411), several lengths, and a
//   body on a method that carries none (400);
// - limits the request head (64 KiB, read within the read timeout: a client that
//   trickles its head is cut off) and every read of a body to the read timeout;
// - serves each connection on a worker of its own, started when none is free (up
//   to a maximum), so that slow clients and long-held requests never keep others
//   waiting;
// - sends each answer whole, head and body together, once its handler has
//   returned (a body streamed by a content provider goes out in pieces of 64 KiB);
// - sends "Content-Security-Policy: frame-ancestors 'none'", "X-Frame-Options:
//   DENY" and "X-Content-Type-Options: nosniff" with every response.
//
// A refused request gets the status of its refusal, "Connection: close", and the
// body the caller's `refuse` writes; its connection is closed without reading the
// rest of it.
//
//   httpguard::Options options;
//   options.refuse = [](const httplib::Request&, httplib::Response& response, const httpguard::Refusal& r) {
//     response.set_content(myErrorJson(r.message), "application/json");
//   };
//   httpguard::Server server(options);
//   server.Get("/hello", ...);
//   int port = server.bindTo("127.0.0.1", 0);
//   server.listen_after_bind();
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace httpguard {

enum class Reason {
  foreignHost,     // 403: the Host header names another server (or is missing)
  foreignOrigin,   // 403: another site's page sent it
  lengthRequired,  // 411: a body without a Content-Length
  bodyTooLarge,    // 413: a Content-Length above the cap
  badRequest,      // 400: several or malformed lengths, a body where none belongs
};

struct Refusal {
  Reason reason;
  int status;           // the HTTP status of the reason
  std::string message;  // what was refused and why, for people
};

// Answers a refused request: `response.status` already holds the refusal's status;
// the caller writes the body (and may change the status).
using Refuse = std::function<void(const httplib::Request&, httplib::Response&, const Refusal&)>;

struct Options {
  // Further host names the server is reached by (a farm's names for this machine),
  // accepted in Host with the server's port.
  std::vector<std::string> allowedHosts;
  std::size_t maxBody = 1024 * 1024;
  // Exact paths that take larger bodies than maxBody.
  std::map<std::string, std::size_t> maxBodyByPath;
  // The whole request head, an idle kept-alive connection's next request, and each
  // read of a body and each write must come within this.
  std::chrono::milliseconds readTimeout{5000};
  std::size_t maxWorkers = 256;
  // Empty: a plain-text body with the refusal's message.
  Refuse refuse;
};

// Where a server listens: a host name or numeric address (IPv6 without brackets;
// "0.0.0.0" or "::" for every address) and its port.
struct ListenAddress {
  std::string host;
  int port = 0;
};

// The values of the Host header (lower case, with the port; also without it for
// port 80) accepted by a server listening at `listen`.
std::vector<std::string> acceptedHosts(const ListenAddress& listen, const std::vector<std::string>& allowedHosts);

// The refusal for a request's head, or none. `accepted` comes from acceptedHosts().
std::optional<Refusal> check(const httplib::Request& request, const std::vector<std::string>& accepted,
                             const Options& options);

// An httplib server with the guard: routes, mounts, loggers and handlers are set
// as on httplib::Server. Bind with bindTo(); a server bound by httplib's own bind
// functions names its numeric listen address only.
class Server : public httplib::Server {
 public:
  explicit Server(httpguard::Options options = {});
  ~Server() override;

  // Binds host:port (port 0: any free port); returns the port, or -1 when it
  // cannot be had. `host` and the port become what requests must name.
  int bindTo(const std::string& host, int port);
  // The Host values this server accepts (known once it is bound).
  std::vector<std::string> acceptedHosts();

  // The caller's own pre-routing handler, run for the requests the guard lets
  // through; default headers are sent beside the guard's own; the caller's
  // 100-continue handler is asked only for requests the guard lets through.
  Server& set_pre_routing_handler(HandlerWithResponse handler);
  Server& set_default_headers(httplib::Headers headers);
  Server& set_expect_100_continue_handler(Expect100ContinueHandler handler);

 private:
  bool process_and_close_socket(socket_t sock) override;
  void answer(const httplib::Request& request, httplib::Response& response, const Refusal& refusal) const;
  std::vector<std::string> hosts();

  httpguard::Options options_;
  HandlerWithResponse next_;
  Expect100ContinueHandler nextExpect_;
  std::mutex hostsMutex_;
  std::string listenHost_;
  bool hostsKnown_ = false;
  std::vector<std::string> hosts_;
};

}  // namespace httpguard
