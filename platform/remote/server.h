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
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/com/result.h"
#include "platform/com/types.h"

namespace qva::remote {

// The class consoles activate: the accounting service's array.
inline constexpr CLSID kServiceArrayClsid = {
    0x0D2E85BE, 0x3F93, 0x49F3, {0xA8, 0xD9, 0xFE, 0x40, 0xF3, 0x61, 0xC4, 0x4C}};

// The local socket: $QVA_REMOTE_SOCKET, else /run/vodriksrv/qvacom.sock.
std::string DefaultSocketPath();
// The TCP port: $QVA_REMOTE_PORT, else 7406.
uint16_t DefaultPort();

struct ServerOptions {
  std::string socket_path;  // empty: DefaultSocketPath(); a stale socket file there is replaced
  bool listen_tcp = false;
  std::string tcp_address = "*";  // where to listen: "*" for every address, or a host/address
  int tcp_port = -1;              // -1: DefaultPort(); 0: any free port (see Server::tcp_port)
  // The accounts file (auth.h), read at every login so that an added account needs no restart.
  // Empty: no login with an identity succeeds.
  std::string accounts_path;
  CLSID clsid = kServiceArrayClsid;  // the class the root answers for
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

  struct State;

 private:
  explicit Server(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace qva::remote
