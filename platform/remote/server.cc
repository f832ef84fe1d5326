#include "platform/remote/server.h"

#include <kj/async-unix.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/com/errorinfo.h"
#include "platform/com/text.h"
#include "platform/remote/auth.h"
#include "platform/remote/corked_stream.h"
#include "platform/remote/runtime.h"

namespace qva::remote {

std::string DefaultSocketPath() {
  const char* env = std::getenv("QVA_REMOTE_SOCKET");
  return env && *env ? env : "/run/vodriksrv/qvacom.sock";
}

uint16_t DefaultPort() {
  if (const char* env = std::getenv("QVA_REMOTE_PORT")) {
    const long port = std::strtol(env, nullptr, 10);
    if (port > 0 && port < 65536) return static_cast<uint16_t>(port);
  }
  return 7406;
}

namespace {

capnp::ReaderOptions WireLimits() {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = kMaxMessageWords;
  options.nestingLimit = 32;  // values nest at most a few levels; deeper is hostile
  return options;
}

// What the gate knows of the peer from the socket itself.
struct Peer {
  bool local = false;  // came in on the UNIX socket
  bool has_uid = false;
  uid_t uid = 0;
  std::string source;  // where its failed logins are counted (LoginSourceOf)
};

// A connection's time to log in, shared by its gate, the watch that closes it and its end.
struct LoginWindow {
  kj::TimePoint deadline = kj::origin<kj::TimePoint>();  // pushed back while the gate holds an answer
  bool logged_in = false;
  // Its place in its source's count of pending logins (PendingLogins), held from its acceptance
  // to its login or its end, whichever comes first.
  bool holds_place = false;
  std::string source;
};

// The connections accepted and not logged in yet, counted per source. A source stays in the
// table only while it has such connections, so the table never holds more entries than there are
// connections open, however many sources come and go. Serving thread only; the sizes are also
// readable from any thread.
class PendingLogins {
 public:
  // Counts one more connection of `source`, unless it has `limit` already.
  bool Enter(const std::string& source, size_t limit) {
    const auto it = counts_.try_emplace(source, 0).first;
    if (it->second >= limit) return false;  // never an entry just made (limit >= 1): none stays at 0
    ++it->second;
    ++connections_;
    sources_ = counts_.size();
    return true;
  }
  // One connection of `source` counted by Enter logged in or ended.
  void Leave(const std::string& source) {
    auto it = counts_.find(source);
    if (it == counts_.end()) return;
    --connections_;
    if (--it->second == 0) counts_.erase(it);
    sources_ = counts_.size();
  }
  size_t connections() const { return connections_; }
  size_t sources() const { return sources_; }

 private:
  std::unordered_map<std::string, size_t> counts_;
  std::atomic<size_t> connections_{0}, sources_{0};
};

}  // namespace

struct Server::State {
  Apartment& apartment = Apartment::Current();
  com::ComPtr<IUnknown> root;
  ServerOptions options;
  Bytes decoy_secret = RandomBytes(32);
  int stop_fd = -1;
  uint16_t tcp_port = 0;
  kj::Own<kj::ConnectionReceiver> unix_listener;
  kj::Own<kj::ConnectionReceiver> tcp_listener;
  kj::Timer& timer = apartment.io().provider->getTimer();
  LoginThrottle throttle;
  // Before `connections`: a connection that ends leaves it.
  PendingLogins pending;

  // Written on the serving thread, read from any (Server::counters).
  std::atomic<size_t> open_connections{0};
  std::atomic<uint64_t> refused_over_limit{0}, refused_over_source_limit{0}, login_timeouts{0}, failed_logins{0},
      held_answers{0};

  // The throttle's clock is the loop's timer.
  LoginThrottle::Time Now() const {
    return LoginThrottle::Time((timer.now() - kj::origin<kj::TimePoint>()) / kj::NANOSECONDS);
  }
  static kj::TimePoint ToTimePoint(LoginThrottle::Time t) {
    return kj::origin<kj::TimePoint>() + t.count() * kj::NANOSECONDS;
  }
  kj::Duration LoginTime() const { return options.login_time.count() * kj::MILLISECONDS; }

  // The connection's login succeeded: it no longer counts against its source.
  void LoggedIn(LoginWindow& window) {
    window.logged_in = true;
    LeavePending(window);
  }
  // Gives back the connection's place in its source's count, if it still holds it.
  void LeavePending(LoginWindow& window) {
    if (!window.holds_place) return;
    window.holds_place = false;
    pending.Leave(window.source);
  }

  // A descriptor of the host's, watched on the serving loop.
  struct Watched {
    int fd;
    std::function<void()> on_ready;
    kj::Own<kj::UnixEventPort::FdObserver> observer;
    kj::Promise<void> task = nullptr;
    bool unwatched = false;
  };
  std::map<int, kj::Own<Watched>> watched;
  // Unwatched entries whose handler may still be on the stack; freed on a later turn.
  std::vector<kj::Own<Watched>> unwatched;

  kj::Promise<void> WaitReadable(Watched& w) {
    return w.observer->whenBecomesReadable().then([this, &w] { return Fire(w); });
  }
  kj::Promise<void> Fire(Watched& w) {
    w.on_ready();
    if (w.unwatched) return kj::NEVER_DONE;
    // The observer reports edges; a descriptor the handler left readable is served again, after
    // whatever else is ready, as a level-triggered loop would.
    pollfd p{w.fd, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1) return kj::evalLater([this, &w] { return Fire(w); });
    return WaitReadable(w);
  }

  struct ConnectionErrors final : kj::TaskSet::ErrorHandler {
    // A connection that fails ends; the failure is the peer's and is not the service's business.
    void taskFailed(kj::Exception&&) override {}
  } errors;
  // Each task owns one connection and ends with it. Declared last: destroyed first.
  kj::Own<kj::TaskSet> connections = kj::heap<kj::TaskSet>(errors);

  ~State() {
    watched.clear();
    unwatched.clear();
    connections = nullptr;
    if (stop_fd >= 0) ::close(stop_fd);
  }

  kj::Promise<void> Accept(kj::ConnectionReceiver& listener, bool local);
  void Serve(kj::Own<kj::AsyncIoStream> stream, bool local);
  // Completes (and so closes the connection) when the window's deadline passes before a login.
  kj::Promise<void> CloseUnlessLoggedIn(std::shared_ptr<LoginWindow> window);
};

using ServerState = Server::State;

namespace {

class SessionServer final : public wire::Session::Server {
 public:
  explicit SessionServer(ServerState& state) : state_(state) {}

 protected:
  kj::Promise<void> activate(ActivateContext context) override {
    auto params = context.getParams();
    auto results = context.getResults();
    GUID clsid;
    if (!ReadGuid(params.getClsid(), &clsid) || !(clsid == state_.options.clsid)) {
      results.setHr(REGDB_E_CLASSNOTREG);
      return kj::READY_NOW;
    }
    auto iids = params.getIids();
    if (iids.size() == 0 || iids.size() > 64) {
      results.setHr(E_INVALIDARG);
      return kj::READY_NOW;
    }
    auto codes = results.initResults(iids.size());
    unsigned granted = 0;
    for (unsigned i = 0; i < iids.size(); ++i) {
      GUID iid;
      HRESULT hr = E_NOINTERFACE;
      if (!ReadGuid(iids[i], &iid)) {
        hr = E_INVALIDARG;
      } else if (iid == IID_IUnknown || FindRemoteInterface(iid)) {
        com::ComPtr<IUnknown> probe;
        DispatchScope scope(state_.apartment);
        hr = state_.root->QueryInterface(iid, probe.put_void());
      }
      codes.set(i, hr);
      if (SUCCEEDED(hr)) ++granted;
    }
    results.setHr(granted == 0 ? E_NOINTERFACE : granted == iids.size() ? S_OK : CO_S_NOTALLINTERFACES);
    if (granted) {
      // The first described interface granted is what the root's IDispatch answers.
      GUID dispatch = GUID_NULL;
      for (unsigned i = 0; i < iids.size(); ++i) {
        GUID iid;
        if (SUCCEEDED(codes[i]) && ReadGuid(iids[i], &iid) && FindRemoteInterface(iid)) {
          dispatch = iid;
          break;
        }
      }
      const HRESULT hr = ExportRoot(state_.apartment, state_.root.get(),
                                    dispatch == GUID_NULL ? IID_IUnknown : dispatch, results.initObject());
      if (FAILED(hr)) results.setHr(hr);
    }
    return kj::READY_NOW;
  }

 private:
  ServerState& state_;
};

class GateServer final : public wire::Gate::Server {
 public:
  GateServer(ServerState& state, Peer peer, std::shared_ptr<LoginWindow> window)
      : state_(state), peer_(std::move(peer)), window_(std::move(window)) {}

 protected:
  kj::Promise<void> beginLogin(BeginLoginContext context) override {
    auto params = context.getParams();
    KJ_REQUIRE(stage_ == Stage::kFresh, "one login per connection");
    stage_ = Stage::kBegun;
    KJ_REQUIRE(params.getUser().size() <= kMaxNameBytes && params.getDomain().size() <= kMaxNameBytes,
               "account name too long");
    KJ_REQUIRE(params.getClientNonce().size() >= 16 && params.getClientNonce().size() <= 64, "bad nonce");
    user_ = params.getUser();
    domain_ = params.getDomain();
    // Read at every login, so that an account added by the administrator works at once.
    const std::string& path = state_.options.accounts_path;
    auto accounts = path.empty() ? com::Expected<Accounts>(com::Fail{E_ACCESSDENIED}) : Accounts::Load(path);
    const Verifier* found = accounts ? accounts->Find(user_, domain_) : nullptr;
    if (found) verifier_ = *found;
    const Bytes salt = found ? found->salt : DecoySalt(state_.decoy_secret, user_, domain_);
    const uint32_t iterations = found ? found->iterations : kDefaultIterations;
    const Bytes server_nonce = RandomBytes(kNonceBytes);
    auto client_nonce = params.getClientNonce();
    auth_message_ =
        AuthMessage(user_, domain_, Bytes(client_nonce.begin(), client_nonce.end()), server_nonce, salt, iterations);
    auto results = context.getResults();
    results.setSalt(kj::arrayPtr(salt.data(), salt.size()));
    results.setIterations(iterations);
    results.setServerNonce(kj::arrayPtr(server_nonce.data(), server_nonce.size()));
    return kj::READY_NOW;
  }

  kj::Promise<void> finishLogin(FinishLoginContext context) override {
    const bool begun = stage_ == Stage::kBegun;
    stage_ = Stage::kDone;
    auto proof_data = context.getParams().getProof();
    Bytes proof(proof_data.begin(), proof_data.end());
    context.releaseParams();
    // Every answer to a source with recent failures waits, the right one too (an early answer
    // would tell a guesser that the guess was right). The loop serves everyone else meanwhile.
    const LoginThrottle::Time now = state_.Now();
    const LoginThrottle::Time answer_at = state_.throttle.Admit(peer_.source, now);
    if (answer_at <= now) {
      Answer(context, begun, proof);
      return kj::READY_NOW;
    }
    ++state_.held_answers;
    const kj::TimePoint release = ServerState::ToTimePoint(answer_at);
    window_->deadline = std::max(window_->deadline, release + state_.LoginTime());
    return state_.timer.atTime(release).then(
        [this, context, begun, proof = std::move(proof)]() mutable { Answer(context, begun, proof); });
  }

  kj::Promise<void> localLogin(LocalLoginContext context) override {
    auto results = context.getResults();
    const bool begun = stage_ != Stage::kFresh;
    stage_ = Stage::kDone;
    if (begun || !peer_.local || !peer_.has_uid || (peer_.uid != ::geteuid() && peer_.uid != 0)) {
      results.setHr(E_ACCESSDENIED);
      return kj::READY_NOW;
    }
    state_.LoggedIn(*window_);
    results.setHr(S_OK);
    results.setSession(kj::heap<SessionServer>(state_));
    return kj::READY_NOW;
  }

 private:
  void Answer(FinishLoginContext& context, bool begun, const Bytes& proof) {
    auto results = context.getResults();
    Bytes signature;
    if (!begun || !verifier_ || !VerifyClientProof(*verifier_, auth_message_, proof, &signature)) {
      ++state_.failed_logins;
      state_.throttle.Failed(peer_.source, state_.Now());
      results.setHr(E_ACCESSDENIED);
      return;
    }
    state_.throttle.Succeeded(peer_.source);
    state_.LoggedIn(*window_);
    results.setHr(S_OK);
    results.setServerSignature(kj::arrayPtr(signature.data(), signature.size()));
    results.setSession(kj::heap<SessionServer>(state_));
  }

  enum class Stage { kFresh, kBegun, kDone };
  ServerState& state_;
  Peer peer_;
  std::shared_ptr<LoginWindow> window_;
  Stage stage_ = Stage::kFresh;
  std::string user_, domain_;
  std::optional<Verifier> verifier_;
  Bytes auth_message_;
};

// One accepted connection: the stream, its message layer and its RPC system, torn down together.
struct ServerConnection {
  kj::Own<kj::AsyncIoStream> stream;
  capnp::TwoPartyVatNetwork network;
  capnp::RpcSystem<capnp::rpc::twoparty::VatId> rpc;

  ServerConnection(kj::Own<kj::AsyncIoStream> s, capnp::Capability::Client gate)
      : stream(kj::heap<CorkedStream>(kj::mv(s))),
        network(*stream, capnp::rpc::twoparty::Side::SERVER, WireLimits()),
        rpc(capnp::makeRpcServer(network, kj::mv(gate))) {}
};

}  // namespace

kj::Promise<void> Server::State::Accept(kj::ConnectionReceiver& listener, bool local) {
  return listener.accept().then([this, &listener, local](kj::Own<kj::AsyncIoStream> stream) {
    Serve(kj::mv(stream), local);
    return Accept(listener, local);
  });
}

void Server::State::Serve(kj::Own<kj::AsyncIoStream> stream, bool local) {
  if (open_connections >= options.max_connections) {
    // Dropping the stream closes the socket: nothing was read from it and nothing is kept.
    ++refused_over_limit;
    return;
  }
  Peer peer;
  peer.local = local;
  if (local) {
    struct ucred cred {};
    uint length = sizeof cred;
    KJ_IF_MAYBE (e, kj::runCatchingExceptions([&] { stream->getsockopt(SOL_SOCKET, SO_PEERCRED, &cred, &length); })) {
      (void)e;
    } else if (length == sizeof cred) {
      peer.has_uid = true;
      peer.uid = cred.uid;
      peer.source = LoginSourceOfUid(cred.uid);
    }
  } else {
    sockaddr_storage address{};
    uint length = sizeof address;
    KJ_IF_MAYBE (e, kj::runCatchingExceptions(
                        [&] { stream->getpeername(reinterpret_cast<sockaddr*>(&address), &length); })) {
      (void)e;  // counted with the other peers of unknown address
    } else {
      peer.source = LoginSourceOf(reinterpret_cast<const sockaddr*>(&address), length);
    }
  }
  // One source's connections that do not log in must not fill max_connections: they would keep
  // every console out, a new one opened whenever the login time of an old one runs out.
  if (!pending.Enter(peer.source, options.max_pending_per_source)) {
    ++refused_over_source_limit;  // closed as one over max_connections is, with nothing read
    return;
  }
  auto window = std::make_shared<LoginWindow>();
  window->deadline = timer.now() + LoginTime();
  window->holds_place = true;
  window->source = peer.source;
  ++open_connections;
  // Runs however the connection ends: the peer, its login time, a failure, the server's end; or
  // here, should setting it up throw.
  auto leave = kj::defer([this, window] {
    --open_connections;
    LeavePending(*window);
  });
  auto connection = kj::heap<ServerConnection>(kj::mv(stream), kj::heap<GateServer>(*this, std::move(peer), window));
  auto ended = connection->network.onDisconnect().exclusiveJoin(CloseUnlessLoggedIn(std::move(window)));
  connections->add(ended.attach(kj::mv(connection), kj::mv(leave)));
}

kj::Promise<void> Server::State::CloseUnlessLoggedIn(std::shared_ptr<LoginWindow> window) {
  const kj::TimePoint deadline = window->deadline;
  return timer.atTime(deadline).then([this, window = std::move(window)]() mutable -> kj::Promise<void> {
    if (window->logged_in) return kj::NEVER_DONE;
    if (timer.now() < window->deadline) return CloseUnlessLoggedIn(std::move(window));
    ++login_timeouts;
    return kj::READY_NOW;
  });
}

com::Expected<std::unique_ptr<Server>> Server::Create(IUnknown* root, ServerOptions options) {
  if (!root) return com::Fail{E_POINTER};
  if (options.max_connections == 0 || options.max_pending_per_source == 0 || options.login_time.count() <= 0)
    return com::Fail{E_INVALIDARG};
  auto state = std::make_unique<State>();
  if (!state->apartment.can_wait() || state->apartment.serving() > 0) return com::Fail{E_UNEXPECTED};
  state->root = com::ComPtr<IUnknown>(root);
  if (options.socket_path.empty()) options.socket_path = DefaultSocketPath();
  state->options = std::move(options);
  state->throttle = LoginThrottle(state->options.login_slowing);
  state->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state->stop_fd < 0) return com::Fail{E_FAIL};
  auto& io = state->apartment.io();
  auto& network = io.provider->getNetwork();
  try {
    // A socket file left by a service that died is in the way; anything else at the path is not
    // ours to remove, and binding then fails.
    struct stat st {};
    if (::lstat(state->options.socket_path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
      ::unlink(state->options.socket_path.c_str());
    auto address = network.parseAddress("unix:" + state->options.socket_path).wait(io.waitScope);
    state->unix_listener = address->listen();
    // Anyone may connect: a caller proves itself by its uid or its login, not by the file mode.
    ::chmod(state->options.socket_path.c_str(), 0666);
    if (state->options.listen_tcp) {
      const int port = state->options.tcp_port < 0 ? DefaultPort() : state->options.tcp_port;
      auto tcp = network.parseAddress(state->options.tcp_address, static_cast<uint>(port)).wait(io.waitScope);
      state->tcp_listener = tcp->listen();
      state->tcp_port = static_cast<uint16_t>(state->tcp_listener->getPort());
    }
  } catch (const kj::Exception& e) {
    // The address in use, a folder that does not exist, no right to bind: the reason goes with
    // the code as error information.
    return com::Fail{
        com::ReportError(E_FAIL, "qvacom remote", std::string("Cannot listen: ") + e.getDescription().cStr())};
  }
  State* raw = state.get();
  raw->connections->add(raw->Accept(*raw->unix_listener, true));
  if (raw->tcp_listener) raw->connections->add(raw->Accept(*raw->tcp_listener, false));
  return std::unique_ptr<Server>(new Server(std::move(state)));
}

Server::Server(std::unique_ptr<State> state) : state_(std::move(state)) {}

Server::~Server() {
  state_->watched.clear();
  state_->unwatched.clear();
  state_->connections = nullptr;  // every connection, and with it every exported object
  state_->unix_listener = nullptr;
  state_->tcp_listener = nullptr;
  // Calls still waiting for a call back, or for their turn, end now: the end of their
  // connections resolved every wait on them.
  if (state_->apartment.can_wait()) state_->apartment.Wait(state_->apartment.WhenIdle());
  ::unlink(state_->options.socket_path.c_str());
}

void Server::Run() {
  kj::UnixEventPort::FdObserver observer(state_->apartment.io().unixEventPort, state_->stop_fd,
                                         kj::UnixEventPort::FdObserver::OBSERVE_READ);
  for (;;) {
    uint64_t count = 0;
    if (::read(state_->stop_fd, &count, sizeof count) == sizeof count) return;
    state_->apartment.Wait(observer.whenBecomesReadable());
  }
}

void Server::Stop() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(state_->stop_fd, &one, sizeof one);
}

void Server::Watch(int fd, std::function<void()> on_ready) {
  Unwatch(fd);
  auto w = kj::heap<State::Watched>();
  w->fd = fd;
  w->on_ready = std::move(on_ready);
  w->observer = kj::heap<kj::UnixEventPort::FdObserver>(state_->apartment.io().unixEventPort, fd,
                                                        kj::UnixEventPort::FdObserver::OBSERVE_READ);
  State::Watched& ref = *w;
  ref.task = state_->WaitReadable(ref).eagerlyEvaluate(nullptr);
  state_->watched[fd] = kj::mv(w);
}

void Server::Unwatch(int fd) {
  auto it = state_->watched.find(fd);
  if (it == state_->watched.end()) return;
  it->second->unwatched = true;
  state_->unwatched.push_back(kj::mv(it->second));
  state_->watched.erase(it);
  State* state = state_.get();
  state->connections->add(kj::evalLater([state] { state->unwatched.clear(); }));
}

uint16_t Server::tcp_port() const { return state_->tcp_port; }
const std::string& Server::socket_path() const { return state_->options.socket_path; }

Server::Counters Server::counters() const {
  Counters c;
  c.open_connections = state_->open_connections;
  c.refused_over_limit = state_->refused_over_limit;
  c.refused_over_source_limit = state_->refused_over_source_limit;
  c.pending_logins = state_->pending.connections();
  c.pending_sources = state_->pending.sources();
  c.login_timeouts = state_->login_timeouts;
  c.failed_logins = state_->failed_logins;
  c.held_answers = state_->held_answers;
  return c;
}

}  // namespace qva::remote
