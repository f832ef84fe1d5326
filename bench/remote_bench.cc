// The remote connection against the same calls in process, on one users collection of 10,000
// users loaded from a copy of the template: Users.Item(name).TimeLeft (two round trips remotely:
// Item hands out a proxy, TimeLeft reads through it, and the proxy's release rides along with the
// next call) and a walk over all 10,000 users with the collection's enumerator.
//
// The service side runs on a thread of this process and is reached over its UNIX socket, as a
// local console reaches the service; the ratio remote / in process is what matters. The floor
// under any remote call is one round trip of a UNIX socket between two threads: BM_SocketRoundTrip
// measures that in the same run (32 bytes there and back, blocking reads and writes), so the cost
// of the RPC layer itself is remote / (2 x round trip) for Item then TimeLeft.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "bench/raw_sqlite.h"
#include "platform/com/bstr.h"
#include "platform/com/objbase.h"
#include "platform/com/variant.h"
#include "platform/remote/client.h"
#include "platform/remote/server.h"
#include "qvacom/accounts/users.h"
#include "qvacom/storage/database.h"

namespace {

constexpr int kUsers = 10000;

std::string UserName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "user%05d", i);
  return name;
}

// A copy of the template next to this program with kUsers users, removed at exit.
class UsersFile {
 public:
  UsersFile() {
    dir_ = std::filesystem::temp_directory_path() / ("qva-remote-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    path_ = dir_ / "Vodrik_e.ntf";
    std::filesystem::copy_file(bench::ProgramFolder() / "Vodrik.ntt", path_,
                               std::filesystem::copy_options::overwrite_existing);
    sqlite3* db = bench::OpenRaw(path_);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO Users (Name, TimeLeft) VALUES (?, ?)", -1, &insert, nullptr) != SQLITE_OK)
      std::abort();
    for (int i = 0; i < kUsers; ++i) {
      const std::string name = UserName(i);
      sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_double(insert, 2, 3600.5 + i);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    socket_ = (dir_ / "qvacom.sock").string();
  }
  ~UsersFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  const std::string& socket() const { return socket_; }

 private:
  std::filesystem::path dir_, path_;
  std::string socket_;
};

const UsersFile& File() {
  static UsersFile file;
  return file;
}

com::ComPtr<IQVAUsers> LoadUsers() {
  auto db = com::CreateObject<qva::CQVADataBase>();
  if (!db || FAILED((*db)->OpenAccess(com::Bstr(File().path().string()).get()))) std::abort();
  auto users = com::CreateObject<qva::CQVAUsers>();
  if (!users || FAILED((*users)->Init(db->get()))) std::abort();
  return com::ComPtr<IQVAUsers>(users->get());
}

// The service: its own users collection, served on its own thread for the whole run.
class Service {
 public:
  Service() {
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      com::ComPtr<IQVAUsers> users = LoadUsers();
      qva::remote::ServerOptions options;
      options.socket_path = File().socket();
      auto server = qva::remote::Server::Create(users.get(), options);
      if (!server) std::abort();
      server_ = server->get();
      ready.set_value();
      (*server)->Run();
    });
    ready.get_future().wait();
    ::setenv("QVA_REMOTE_SOCKET", File().socket().c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    qva::remote::InstallClient();
  }
  ~Service() {
    server_.load()->Stop();
    thread_.join();
  }
  com::ComPtr<IQVAUsers> Connect() {
    com::ComPtr<IQVAUsers> users;
    if (FAILED(CoCreateInstance(qva::remote::kServiceArrayClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IQVAUsers,
                                users.put_void())))
      std::abort();
    return users;
  }

 private:
  std::thread thread_;
  std::atomic<qva::remote::Server*> server_{nullptr};
};

// Made on first use and torn down by main in order: proxies before the service, both before the
// thread's event loop goes at exit.
Service* g_service = nullptr;
com::ComPtr<IQVAUsers> g_local, g_remote;

IQVAUsers* Local() {
  if (!g_local) g_local = LoadUsers();
  return g_local.get();
}
IQVAUsers* Remote() {
  if (!g_service) g_service = new Service;
  if (!g_remote) g_remote = g_service->Connect();
  return g_remote.get();
}

void ItemTimeLeft(benchmark::State& state, IQVAUsers* users) {
  int i = 0;
  double sum = 0;
  for (auto _ : state) {
    com::ComPtr<IQVAUser> user;
    if (users->Item(com::Variant::Str(UserName(i++ % kUsers)), user.put()) != S_OK) std::abort();
    double left = 0;
    user->get_TimeLeft(&left);
    sum += left;
  }
  benchmark::DoNotOptimize(sum);
}

void Enumerate(benchmark::State& state, IQVAUsers* users) {
  for (auto _ : state) {
    com::ComPtr<IUnknown> unknown;
    com::ComPtr<IEnumVARIANT> e;
    if (FAILED(users->get__NewEnum(unknown.put())) || FAILED(unknown.As(&e))) std::abort();
    com::Variant item;
    int count = 0;
    while (e->Next(1, item.put(), nullptr) == S_OK) ++count;
    if (count != kUsers) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * kUsers);
}

// Two threads bounce 32 bytes over a socket pair: the least a round trip between them costs.
void BM_SocketRoundTrip(benchmark::State& state) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
  std::thread echo([fd = pair[1]] {
    char buffer[64];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0 || ::write(fd, buffer, static_cast<size_t>(n)) != n) return;
    }
  });
  char message[32] = {};
  for (auto _ : state) {
    if (::write(pair[0], message, sizeof message) != sizeof message) std::abort();
    for (size_t got = 0; got < sizeof message;) {
      const ssize_t n = ::read(pair[0], message + got, sizeof message - got);
      if (n <= 0) std::abort();
      got += static_cast<size_t>(n);
    }
  }
  ::close(pair[0]);
  echo.join();
  ::close(pair[1]);
}

void BM_ItemTimeLeft_InProcess(benchmark::State& state) { ItemTimeLeft(state, Local()); }
void BM_ItemTimeLeft_Remote(benchmark::State& state) { ItemTimeLeft(state, Remote()); }
void BM_Enumerate10000_InProcess(benchmark::State& state) { Enumerate(state, Local()); }
void BM_Enumerate10000_Remote(benchmark::State& state) { Enumerate(state, Remote()); }

BENCHMARK(BM_SocketRoundTrip);
BENCHMARK(BM_ItemTimeLeft_InProcess);
BENCHMARK(BM_ItemTimeLeft_Remote);
BENCHMARK(BM_Enumerate10000_InProcess)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Enumerate10000_Remote)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_remote = nullptr;
  g_local = nullptr;
  delete g_service;
  return 0;
}
