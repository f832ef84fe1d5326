// What a peer that does not log in can cost the service: connections at once, those of one
// source waiting to log in, the time to log in, and the pace of failed logins (the throttle's
// rules first, then the gate that applies them).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <kj/io.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/com/com_ptr.h"
#include "platform/com/objbase.h"
#include "platform/remote/auth.h"
#include "platform/remote/runtime.h"
#include "platform/remote/server.h"
#include "tests/remote/test_objects.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {
namespace {

using namespace std::chrono_literals;
using com::ComPtr;
using remote::LoginThrottle;
using Time = LoginThrottle::Time;

remote::LoginSlowing Slowing(size_t max_sources = 16) { return {1s, 30s, 10min, max_sources}; }

TEST(LoginThrottleTest, TheHoldDoublesFromTheFirstDelayUpToTheLongest) {
  const LoginThrottle throttle(Slowing());
  const struct {
    uint32_t failures;
    Time hold;
  } cases[] = {{0, 0s}, {1, 1s}, {2, 2s}, {3, 4s}, {5, 16s}, {6, 30s}, {7, 30s}, {64, 30s}, {4000000000u, 30s}};
  for (const auto& c : cases) EXPECT_EQ(throttle.HoldAfter(c.failures), c.hold) << c.failures;
}

// Attempts in turn, as the gate makes them: each answered when Admit says, its outcome recorded then.
TEST(LoginThrottleTest, FailuresHoldTheSourcesNextAnswersUntilASuccessOrAQuietPeriod) {
  LoginThrottle throttle(Slowing());
  const struct {
    const char* source;
    Time arrives;
    bool succeeds;
    Time answered;
  } steps[] = {
      {"a", 0s, false, 0s},                    // a first failure is answered at once
      {"a", 10s, false, 11s},                  // then held 1 s
      {"a", 11s, false, 13s},                  // 2 s
      {"b", 13s, false, 13s},                  // another source is not held
      {"a", 13s, true, 17s},                   // 4 s, the right password too
      {"a", 20s, false, 20s},                  // the success started the count afresh
      {"a", 30s, false, 31s},                  // and held 1 s after one failure
      {"a", 31s + 10min, false, 31s + 10min},  // quiet for 10 minutes: afresh again
      {"a", 32s + 10min, false, 33s + 10min},  // counting from one
      {"b", 14s + 10min, false, 14s + 10min},  // b was quiet too
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(s.source) + " at " + std::to_string(s.arrives.count()));
    const Time answered = throttle.Admit(s.source, s.arrives);
    EXPECT_EQ(answered, s.answered);
    if (s.succeeds) {
      throttle.Succeeded(s.source);
    } else {
      throttle.Failed(s.source, answered);
    }
  }
}

TEST(LoginThrottleTest, AttemptsSideBySideAreAnsweredOneHoldApart) {
  LoginThrottle throttle(Slowing());
  throttle.Failed("a", 0s);
  throttle.Failed("a", 0s);  // two failures: 2 s each
  for (const Time answered : {7s, 9s, 11s}) EXPECT_EQ(throttle.Admit("a", 5s), answered);
  EXPECT_EQ(throttle.Admit("a", 20s), 22s);  // after the queue has drained, from the arrival again

  // A flood queues no answer further than the longest hold.
  for (int i = 0; i < 5; ++i) throttle.Failed("b", 0s);  // 16 s each
  for (const Time answered : {16s, 30s, 30s, 30s}) EXPECT_EQ(throttle.Admit("b", 0s), answered);
  EXPECT_EQ(throttle.Admit("b", 10s), 40s);
}

TEST(LoginThrottleTest, AFullTableCountsNewSourcesTogether) {
  LoginThrottle throttle(Slowing(2));
  throttle.Failed("a", 0s);
  throttle.Failed("b", 0s);
  for (int i = 0; i < 100; ++i) throttle.Failed("flood-" + std::to_string(i), 1s);
  EXPECT_EQ(throttle.sources(), 2u);
  EXPECT_EQ(throttle.Admit("never seen", 2s), 2s + 30s);  // the flood's count slows every newcomer
  EXPECT_EQ(throttle.Admit("a", 2s), 3s);                 // those counted keep their own
  // Sources gone quiet make room again.
  throttle.Failed("c", 20min);
  EXPECT_EQ(throttle.sources(), 1u);
  EXPECT_EQ(throttle.Admit("d", 20min), 20min);
  EXPECT_EQ(throttle.Admit("c", 20min), 20min + 1s);
}

TEST(LoginThrottleTest, SourcesAreAddressesIpv6BlocksAndUids) {
  const struct {
    int family;
    const char* address;
    const char* source;
  } cases[] = {
      {AF_INET, "192.0.2.7", "192.0.2.7"},
      {AF_INET6, "::ffff:192.0.2.7", "192.0.2.7"},
      {AF_INET6, "2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {AF_INET6, "2001:db8:1:2:ffff::1", "2001:db8:1:2::/64"},
      {AF_INET6, "2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {AF_UNIX, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (c.family == AF_INET) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
      v4->sin_family = AF_INET;
      ASSERT_EQ(inet_pton(AF_INET, c.address, &v4->sin_addr), 1);
      length = sizeof *v4;
    } else if (c.family == AF_INET6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
      v6->sin6_family = AF_INET6;
      ASSERT_EQ(inet_pton(AF_INET6, c.address, &v6->sin6_addr), 1);
      length = sizeof *v6;
    } else {
      storage.ss_family = AF_UNIX;
      length = sizeof(sockaddr_un);
    }
    EXPECT_EQ(remote::LoginSourceOf(reinterpret_cast<const sockaddr*>(&storage), length), c.source);
  }
  EXPECT_EQ(remote::LoginSourceOfUid(1000), "uid 1000");
}

// ---- the gate ---------------------------------------------------------------------------------

// Bounds a wait on an event that must come, so that a fault fails the test instead of hanging it.
constexpr kj::Duration kSafety = 60 * kj::SECONDS;

kj::AsyncIoContext& Io() { return remote::Apartment::Current().io(); }

template <class T>
T Await(kj::Promise<T> promise) {
  return Io().provider->getTimer().timeoutAfter(kSafety, kj::mv(promise)).wait(Io().waitScope);
}

// A console's connection driven by hand on this thread's loop: the test decides which login
// calls go and sees whether their answers have come.
class HandConsole {
 public:
  enum class Via { kLocalSocket, kTcp };

  // `from`: over TCP, the loopback address (any 127.x.y.z is this host's) to connect from, so
  // that one process can be several sources; null for the system's choice.
  HandConsole(Via via, const std::string& socket, uint16_t port, const char* from = nullptr) {
    if (via == Via::kTcp && from) {
      stream_ = ConnectFrom(from, port);
    } else {
      auto& network = Io().provider->getNetwork();
      auto address =
          (via == Via::kLocalSocket ? network.parseAddress("unix:" + socket) : network.parseAddress("127.0.0.1", port))
              .wait(Io().waitScope);
      stream_ = address->connect().wait(Io().waitScope);
    }
    network_ = kj::heap<capnp::TwoPartyVatNetwork>(*stream_, capnp::rpc::twoparty::Side::CLIENT);
    rpc_ = kj::heap(capnp::makeRpcClient(*network_));
    capnp::MallocMessageBuilder vat_id(8);
    vat_id.initRoot<capnp::rpc::twoparty::VatId>().setSide(capnp::rpc::twoparty::Side::SERVER);
    gate_ = rpc_->bootstrap(vat_id.getRoot<capnp::rpc::twoparty::VatId>()).castAs<remote::wire::Gate>();
  }

  // The first half of a login: the challenge's answer.
  kj::Promise<void> Begin() { return BeginRequest().send().ignoreResult(); }

  // A whole login as alice of CORP; the gate's code.
  kj::Promise<HRESULT> Login(std::string password) {
    return BeginRequest().send().then([this, password = std::move(password)](auto challenge) {
      auto salt = challenge.getSalt();
      auto server_nonce = challenge.getServerNonce();
      const remote::Bytes auth_message =
          remote::AuthMessage("alice", "CORP", nonce_, remote::Bytes(server_nonce.begin(), server_nonce.end()),
                              remote::Bytes(salt.begin(), salt.end()), challenge.getIterations());
      const auto proof = remote::ComputeClientProof(password, remote::Bytes(salt.begin(), salt.end()),
                                                    challenge.getIterations(), auth_message);
      auto finish = gate_.finishLoginRequest();
      finish.setProof(kj::arrayPtr(proof.proof.data(), proof.proof.size()));
      return finish.send().then([](auto answer) { return static_cast<HRESULT>(answer.getHr()); });
    });
  }

  // A login without identity, as the service's own user on the local socket; the gate's code.
  kj::Promise<HRESULT> LocalLogin() {
    return gate_.localLoginRequest().send().then([](auto answer) { return static_cast<HRESULT>(answer.getHr()); });
  }

  // Resolves when the service has closed the connection.
  kj::Promise<void> Closed() { return network_->onDisconnect(); }

 private:
  static kj::Own<kj::AsyncIoStream> ConnectFrom(const char* from, uint16_t port) {
    kj::AutoCloseFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    KJ_REQUIRE(fd.get() >= 0, "socket", errno);
    sockaddr_in local{}, service{};
    local.sin_family = service.sin_family = AF_INET;
    service.sin_port = htons(port);
    KJ_REQUIRE(inet_pton(AF_INET, from, &local.sin_addr) == 1 &&
               inet_pton(AF_INET, "127.0.0.1", &service.sin_addr) == 1);
    KJ_REQUIRE(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0, "bind", from, errno);
    return Io()
        .lowLevelProvider
        ->wrapConnectingSocketFd(kj::mv(fd), reinterpret_cast<const sockaddr*>(&service), sizeof service,
                                 kj::LowLevelAsyncIoProvider::ALREADY_CLOEXEC)
        .wait(Io().waitScope);
  }

  capnp::Request<remote::wire::Gate::BeginLoginParams, remote::wire::Gate::BeginLoginResults> BeginRequest() {
    auto begin = gate_.beginLoginRequest();
    begin.setUser("alice");
    begin.setDomain("CORP");
    begin.setClientNonce(kj::arrayPtr(nonce_.data(), nonce_.size()));
    return begin;
  }

  const remote::Bytes nonce_ = remote::RandomBytes(remote::kNonceBytes);
  kj::Own<kj::AsyncIoStream> stream_;
  kj::Own<capnp::TwoPartyVatNetwork> network_;
  kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> rpc_;
  remote::wire::Gate::Client gate_ = nullptr;
};

using Via = HandConsole::Via;

class GateTest : public ::testing::Test {
 protected:
  void Serve(remote::ServerOptions options) {
    socket_ = (dir_.path() / "qvacom.sock").string();
    ::setenv("QVA_REMOTE_SOCKET", socket_.c_str(), 1);
    const std::string accounts = (dir_.path() / "logins").string();
    ASSERT_EQ(remote::AddLogin(accounts, "alice", "CORP", "right", 64), S_OK);
    options.socket_path = socket_;
    options.listen_tcp = true;
    options.tcp_address = "127.0.0.1";
    options.tcp_port = 0;
    options.accounts_path = accounts;
    server_ = std::make_unique<TestServer>(
        TestServer::Where::kThread, RootOf<TestRoot>(), options);
    ASSERT_NE(server_->server(), nullptr);
  }
  void TearDown() override { server_.reset(); }

  HandConsole Console(Via via, const char* from = nullptr) {
    return HandConsole(via, socket_, server_->tcp_port(), from);
  }
  remote::Server::Counters Counters() const { return server_->server()->counters(); }

  // Serves this thread's loop until the service's counters show `done` (bounded by kSafety).
  bool WaitForCounters(const std::function<bool(const remote::Server::Counters&)>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    kj::Promise<void> never = kj::NEVER_DONE;
    while (!done(Counters())) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      never.poll(Io().waitScope);  // sends what this thread's consoles have queued
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // A console of the service's own user on the local socket, logged in.
  static ComPtr<IQVAArchs> ConnectLocal() {
    MULTI_QI mqi{&IID_IQVAArchs, nullptr, S_OK};
    COSERVERINFO info{};
    ComPtr<IQVAArchs> root;
    if (SUCCEEDED(CoCreateInstanceEx(remote::kServiceArrayClsid, nullptr, CLSCTX_LOCAL_SERVER, &info, 1, &mqi)) &&
        SUCCEEDED(mqi.hr))
      root = ComPtr<IQVAArchs>::Attach(static_cast<IQVAArchs*>(mqi.pItf));
    return root;
  }
  static bool Served(IQVAArchs* console) {
    LONG count = -1;
    return console->get_Count(&count) == S_OK && count >= 0;
  }

  TempDir dir_;
  std::string socket_;
  std::unique_ptr<TestServer> server_;
};

TEST_F(GateTest, OverTheLimitANewConnectionIsClosedWhileTheOthersKeepWorking) {
  remote::ServerOptions options;
  options.max_connections = 2;
  Serve(options);
  ComPtr<IQVAArchs> first = ConnectLocal(), second = ConnectLocal();
  ASSERT_TRUE(first && second);
  uint64_t refused = 0;
  for (const Via via : {Via::kLocalSocket, Via::kTcp}) {
    SCOPED_TRACE(via == Via::kTcp ? "TCP" : "local socket");
    HandConsole extra = Console(via);
    Await(extra.Closed());  // before it sent anything but its first message
    EXPECT_EQ(Counters().refused_over_limit, ++refused);
    EXPECT_TRUE(Served(first.get()));
    EXPECT_TRUE(Served(second.get()));
  }
  EXPECT_EQ(Counters().open_connections, 2u);

  // A console that leaves makes room for the next.
  second = nullptr;
  ASSERT_TRUE(WaitForCounters([](const auto& c) { return c.open_connections == 1; }));
  ComPtr<IQVAArchs> third = ConnectLocal();
  ASSERT_TRUE(third);
  EXPECT_TRUE(Served(third.get()));
  EXPECT_EQ(Counters().refused_over_limit, refused);
}

TEST_F(GateTest, AConnectionThatDoesNotLogInIsClosedAfterTheLoginTime) {
  remote::ServerOptions options;
  options.login_time = 50ms;
  Serve(options);
  ComPtr<IQVAArchs> logged_in = ConnectLocal();
  ASSERT_TRUE(logged_in);
  const struct {
    const char* what;
    Via via;
    bool begins;
  } cases[] = {
      {"silent, local socket", Via::kLocalSocket, false},
      {"silent, TCP", Via::kTcp, false},
      {"login begun, never finished", Via::kTcp, true},
  };
  uint64_t closed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HandConsole idle = Console(c.via);
    if (c.begins) Await(idle.Begin());
    Await(idle.Closed());
    EXPECT_EQ(Counters().login_timeouts, ++closed);
  }
  // Connected before all of them, the logged-in console is past its login time too, and served.
  EXPECT_TRUE(Served(logged_in.get()));
  EXPECT_EQ(Counters().login_timeouts, closed);
}

TEST_F(GateTest, AHeldAnswerDoesNotCountAgainstTheLoginTime) {
  remote::ServerOptions options;
  options.login_time = 50ms;
  options.login_slowing.first_delay = 200ms;  // four login times
  Serve(options);
  EXPECT_EQ(Await(Console(Via::kTcp).Login("guess")), E_ACCESSDENIED);
  HandConsole held = Console(Via::kTcp);
  // Answered, not closed: the connection's login time starts again when the answer goes.
  EXPECT_EQ(Await(held.Login("right")), S_OK);
  EXPECT_EQ(Counters().held_answers, 1u);
}

TEST_F(GateTest, WrongPasswordsHoldBackTheirSourcesNextAnswerAndNoOtherSources) {
  remote::ServerOptions options;
  options.login_slowing.first_delay = std::chrono::hours(1);  // a held answer does not come in this test
  options.login_slowing.max_delay = std::chrono::hours(1);
  Serve(options);
  // The local socket's source is this process's uid; TCP's is 127.0.0.1.
  EXPECT_EQ(Await(Console(Via::kLocalSocket).Login("guess")), E_ACCESSDENIED);
  EXPECT_EQ(Counters().failed_logins, 1u);
  EXPECT_EQ(Counters().held_answers, 0u);

  HandConsole held = Console(Via::kLocalSocket);
  kj::Promise<HRESULT> answer = held.Login("right");
  ASSERT_TRUE(WaitForCounters([](const auto& c) { return c.held_answers == 1; }));

  // Meanwhile another source is answered, and served.
  const struct {
    const char* password;
    HRESULT hr;
  } others[] = {{"right", S_OK}, {"guess", E_ACCESSDENIED}};  // (a failure would hold the next)
  for (const auto& o : others) EXPECT_EQ(Await(Console(Via::kTcp).Login(o.password)), o.hr) << o.password;
  EXPECT_EQ(Counters().held_answers, 1u);
  EXPECT_EQ(Counters().failed_logins, 2u);
  EXPECT_FALSE(answer.poll(Io().waitScope));
}

TEST_F(GateTest, ASuccessStartsTheCountAfresh) {
  remote::ServerOptions options;
  options.login_slowing.first_delay = 1ms;
  options.login_slowing.max_delay = 4ms;
  Serve(options);
  const struct {
    const char* password;
    HRESULT hr;
    uint64_t held;  // answers held so far
  } steps[] = {
      {"guess", E_ACCESSDENIED, 0},  // answered at once
      {"guess", E_ACCESSDENIED, 1},  // held
      {"guess", E_ACCESSDENIED, 2},  // held
      {"right", S_OK, 3},            // held as well: an early answer would give the guess away
      {"guess", E_ACCESSDENIED, 3},  // at once: the success started the count afresh
      {"guess", E_ACCESSDENIED, 4},  // held
  };
  uint64_t failed = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.password);
    EXPECT_EQ(Await(Console(Via::kTcp).Login(s.password)), s.hr);
    if (s.hr != S_OK) ++failed;
    EXPECT_EQ(Counters().held_answers, s.held);
    EXPECT_EQ(Counters().failed_logins, failed);
  }
}

// ---- connections of one source waiting to log in -------------------------------------------------

struct Source {
  const char* name;
  Via via;
  const char* from;  // over TCP, the address connected from
};
constexpr Source kTcp1{"TCP from 127.0.0.1", Via::kTcp, "127.0.0.1"};
constexpr Source kTcp2{"TCP from 127.0.0.2", Via::kTcp, "127.0.0.2"};
constexpr Source kLocal{"the local socket", Via::kLocalSocket, nullptr};

TEST_F(GateTest, OneSourcesConnectionsWaitingToLogInAreLimitedWhileOtherSourcesGetIn) {
  remote::ServerOptions options;
  options.max_pending_per_source = 2;
  Serve(options);
  const struct { Source crowded, other; } cases[] = {{kTcp1, kTcp2}, {kLocal, kTcp1}, {kTcp2, kLocal}};
  uint64_t refused = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.crowded.name) + " beside " + c.other.name);
    {
      HandConsole first = Console(c.crowded.via, c.crowded.from), second = Console(c.crowded.via, c.crowded.from);
      HandConsole extra = Console(c.crowded.via, c.crowded.from);
      Await(extra.Closed());  // accepted after the two, and closed before it sent more than its first message
      EXPECT_EQ(Counters().refused_over_source_limit, ++refused);

      HandConsole other = Console(c.other.via, c.other.from);
      EXPECT_EQ(Await(other.Login("right")), S_OK);
      // Waiting: the crowded source's two, the only source in the table; the console that logged
      // in counts only as a connection.
      const auto counters = Counters();
      EXPECT_EQ(counters.pending_logins, 2u);
      EXPECT_EQ(counters.pending_sources, 1u);
      EXPECT_EQ(counters.open_connections, 3u);
    }
    // Closed by their peer, the connections give their places back, and the table empties (the
    // next case's sources find room, the crowded one of the first case included).
    ASSERT_TRUE(WaitForCounters([](const auto& k) { return k.open_connections == 0 && k.pending_sources == 0; }));
    EXPECT_EQ(Counters().pending_logins, 0u);
  }
  EXPECT_EQ(Counters().refused_over_limit, 0u);
}

TEST_F(GateTest, ALoginGivesItsPlaceBackToItsSource) {
  remote::ServerOptions options;
  options.max_pending_per_source = 2;
  Serve(options);
  const struct {
    const char* what;
    Via via;
    bool without_identity;
  } cases[] = {
      {"password over TCP", Via::kTcp, false},
      {"password on the local socket", Via::kLocalSocket, false},
      {"the service's own user on the local socket", Via::kLocalSocket, true},
  };
  uint64_t refused = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      HandConsole waiting = Console(c.via), logging_in = Console(c.via);
      EXPECT_EQ(Await(c.without_identity ? logging_in.LocalLogin() : logging_in.Login("right")), S_OK);
      // The place is free: the next connection of the source takes it, and the one after is one
      // too many (were the place still held, both would be refused).
      HandConsole next = Console(c.via), extra = Console(c.via);
      Await(extra.Closed());
      EXPECT_EQ(Counters().refused_over_source_limit, ++refused);
      EXPECT_EQ(Await(next.Login("right")), S_OK);
      EXPECT_EQ(Counters().pending_logins, 1u);  // `waiting`
    }
    ASSERT_TRUE(WaitForCounters([](const auto& k) { return k.open_connections == 0; }));
  }

  // Stopping the service ends a connection still waiting to log in, place and all.
  HandConsole waiting = Console(Via::kTcp);
  ASSERT_TRUE(WaitForCounters([](const auto& k) { return k.pending_logins == 1; }));
  server_.reset();
  Await(waiting.Closed());
}

TEST_F(GateTest, AConnectionWhoseLoginTimeRunsOutGivesItsPlaceBack) {
  remote::ServerOptions options;
  options.max_pending_per_source = 2;
  options.login_time = 50ms;
  Serve(options);
  HandConsole first = Console(Via::kTcp), second = Console(Via::kTcp);
  Await(first.Closed());
  Await(second.Closed());
  EXPECT_EQ(Counters().login_timeouts, 2u);
  ASSERT_TRUE(WaitForCounters([](const auto& k) { return k.pending_logins == 0 && k.pending_sources == 0; }));

  // Both places are free again: two more from the source are accepted (and run out of time in
  // turn), none refused.
  HandConsole third = Console(Via::kTcp), fourth = Console(Via::kTcp);
  Await(third.Closed());
  Await(fourth.Closed());
  EXPECT_EQ(Counters().login_timeouts, 4u);
  EXPECT_EQ(Counters().refused_over_source_limit, 0u);
}

}  // namespace
}  // namespace qva::testing
