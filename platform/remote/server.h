// The service side of remote connections: serves one object (the service's array) to consoles
// on a local UNIX socket and, when asked, on a TCP port.
//
//   auto server = qva::remote::Server::Create(array.get(), options);   // on the serving thread
//   (*server)->Run();                                                   // until Stop()
//
// The serving thread's kj event loop is the apartment of every call: calls run there one at a
// time, in the order they arrive. Each connection must log in first (see auth.h); a console that
// sends no identity is accepted only on the UNIX socket and only when it runs as the service's
// own user or as root. Every object a connection holds is released when it lets go of it or when
// the connection ends; a malformed or oversized message ends that connection and nothing else.
//
// What a peer that does not log in can cost the service is bounded: the connections open at once
// (ServerOptions::max_connections; one over is closed as soon as it is accepted), those of one
// source that have not logged in yet (max_pending_per_source; likewise), the time a connection
// may take to log in (login_time; then it is closed), and the pace of guesses:
// failed logins are counted per source and hold back the answer to that source's next attempt
// (login_slowing, auth.h), on the serving loop's timer, so other consoles are served meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/com/result.h"
#include "platform/com/types.h"
#include "platform/remote/auth.h"

namespace qva::remote {

// The class consoles activate: the accounting service's array.
inline constexpr CLSID kServiceArrayClsid = {
    0x0D2E85BE, 0x3F93, 0x49F3, {0xA8, 0xD9, 0xFE, 0x40, 0xF3, 0x61, 0xC4, 0x4C}};

// The local socket: $QVA_REMOTE_SOCKET, else /run/vodriksrv/qvacom.sock.
std::string DefaultSocketPath();
// The TCP port: $QVA_REMOTE_PORT, else 7406.
uint16_t DefaultPort();

// Consoles are administrators and their scripts: a handful at a time. 64 leaves room for many
// scripts side by side while keeping the descriptors, RPC systems and objects that connections
// hold a small part of what the process may open (1,024 descriptors by default), so that a flood
// of connections cannot starve the database and the logs.
inline constexpr size_t kDefaultMaxConnections = 64;
// A console logs in with two short round trips as soon as it connects (its password is read
// before); a peer that has not finished by then is not a console at work.
inline constexpr std::chrono::milliseconds kDefaultLoginTime{15000};
// A console is pending for two round trips, and a host runs a few consoles or scripts at once;
// 8 is room for a burst of them, and keeps one peer that never logs in to an eighth of the
// default max_connections.
inline constexpr size_t kDefaultMaxPendingPerSource = 8;

struct ServerOptions {
  std::string socket_path;  // empty: DefaultSocketPath(); a stale socket file there is replaced
  bool listen_tcp = false;
  std::string tcp_address = "*";  // where to listen: "*" for every address, or a host/address
  int tcp_port = -1;              // -1: DefaultPort(); 0: any free port (see Server::tcp_port)
  // The accounts file (auth.h), read at every login so that an added account needs no restart.
  // Empty: no login with an identity succeeds.
  std::string accounts_path;
  CLSID clsid = kServiceArrayClsid;  // the class the root answers for
  // Connections open at once, on both listeners together, logged in or not; at least 1.
  size_t max_connections = kDefaultMaxConnections;
  // Connections from one source (a login source as LoginSourceOf and LoginSourceOfUid tell it,
  // auth.h; peers whose source cannot be told count as one) accepted and not logged in yet; at
  // least 1. One more from that source is closed as soon as it is accepted. A connection leaves
  // its source's count when its login succeeds or when it ends, whatever ends it.
  size_t max_pending_per_source = kDefaultMaxPendingPerSource;
  // From accepting a connection to its login's success; more than 0. The time the gate holds an answer back
  // (login_slowing) is not counted against the peer. Logged-in connections have no limit.
  std::chrono::milliseconds login_time = kDefaultLoginTime;
  LoginSlowing login_slowing;
};

class Server {
 public:
  // Binds the listeners. The calling thread becomes the serving thread: Run and the destructor
  // must be called on it, and it must have no other kj event loop. Holds a reference on `root`.
  static com::Expected<std::unique_ptr<Server>> Create(IUnknown* root, ServerOptions options);
  // Ends every connection (releasing everything they hold) and removes the socket file.
  ~Server();

  // Serves until Stop is called.
  void Run();
  // Makes Run return. Safe from any thread and from a signal handler.
  void Stop();

  // Calls `on_ready` on the serving thread whenever `fd` is readable (or hung up), between
  // calls, for as long as it stays readable: the service host's own descriptors (its signal
  // descriptor, say) share the serving loop this way. `on_ready` may call Stop and Unwatch. The
  // descriptor stays the caller's; Unwatch it before closing it. Serving thread only.
  void Watch(int fd, std::function<void()> on_ready);
  void Unwatch(int fd);

  uint16_t tcp_port() const;
  const std::string& socket_path() const;

  // What the limits did so far. Readable from any thread (for tests and diagnostics).
  struct Counters {
    size_t open_connections = 0;
    uint64_t refused_over_limit = 0;  // closed as soon as accepted: max_connections were open
    // Closed as soon as accepted: max_pending_per_source of its source had not logged in yet.
    uint64_t refused_over_source_limit = 0;
    size_t pending_logins = 0;    // connections open that have not logged in yet
    size_t pending_sources = 0;   // sources with such connections: the per-source table's size
    uint64_t login_timeouts = 0;  // closed for not logging in within login_time
    uint64_t failed_logins = 0;   // logins with an identity refused
    uint64_t held_answers = 0;    // login answers held back for the source's earlier failures
  };
  Counters counters() const;

  struct State;

 private:
  explicit Server(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace qva::remote
