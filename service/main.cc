// vodriksrv: the accounting service host. Prepares the base folder, makes sure the library and
// the two outside components are registered, creates the array object through the root object,
// initialises it and keeps it until SIGTERM or SIGINT. Nothing is saved on the way out: the
// array's children write their own changes as they are made.
//
//   vodriksrv [--base-folder DIR] [--socket PATH] [--listen-tcp [PORT]] [--logins FILE]
//             [--max-connections N] [--max-pending-per-source N] [--login-time SECONDS]
//
// Consoles reach the array through the remote layer (docs/remote.md): on a local socket, and on a
// TCP port when asked. The calls run on this program's main thread, the array's apartment.
//
// Exit codes (sysexits.h): 0 after a stop signal; EX_USAGE for a bad command line; EX_NOINPUT
// when the base folder does not exist; EX_CANTCREAT when it is not writable or a template cannot
// be copied into it; EX_UNAVAILABLE when a library cannot be registered or the array cannot be
// made; EX_CONFIG when Init fails; EX_OSERR when the signals cannot be set up.
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sysexits.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "components/interfaces.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"
#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "platform/remote/server.h"
#include "qvacom/frame/server_log.h"
#include "qvacom_idl.h"
#include "service/host.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kBaseFolderVariable = "QVA_BASE_FOLDER";  // read by the array object too
constexpr HRESULT kDatabaseNotOpened = static_cast<HRESULT>(0x00040203);

// What the command line asks of the remote layer.
struct Serving {
  std::string socket;       // empty: the default
  bool tcp = false;
  int port = -1;            // -1: the default
  std::string logins;       // empty: <base folder>/logins
  size_t max_connections = qva::remote::kDefaultMaxConnections;
  size_t max_pending_per_source = qva::remote::kDefaultMaxPendingPerSource;
  std::chrono::milliseconds login_time = qva::remote::kDefaultLoginTime;
};

// A whole number from `first` to `last`, else nullopt.
std::optional<long> Number(const char* text, long first, long last) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end || errno == ERANGE || n < first || n > last) return std::nullopt;
  return n;
}

// The value of a numeric option, or nothing after saying on stderr what the option takes.
std::optional<long> NumberOption(const char* option, const char* text, long first, long last, const char* what) {
  const auto n = Number(text, first, last);
  if (!n) std::fprintf(stderr, "vodriksrv: %s takes %s from %ld to %ld, not %s\n", option, what, first, last, text);
  return n;
}

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vodriksrv [--base-folder DIR] [--socket PATH] [--listen-tcp [PORT]] [--logins FILE]\n"
               "                 [--max-connections N] [--max-pending-per-source N]\n"
               "                 [--login-time SECONDS]\n"
               "  Runs the accounting service: initialises the array object in DIR and serves it\n"
               "  to consoles until SIGTERM or SIGINT.\n"
               "  --base-folder DIR  folder of the settings, database and logs/ (default: $%s,\n"
               "                     else the folder of this program). A fresh folder gets the\n"
               "                     templates vodrik_e.xmt and Vodrik.ntt from the program's folder.\n"
               "  --socket PATH      local socket of the consoles (default: $QVA_REMOTE_SOCKET, else %s)\n"
               "  --listen-tcp [PORT] also serve consoles of other machines on TCP (default port:\n"
               "                     $QVA_REMOTE_PORT, else %u); they must log in\n"
               "  --logins FILE      the console logins (made with qva-add-login; default: DIR/logins).\n"
               "                     Without a login only local consoles of this user or root get in.\n"
               "  --max-connections N\n"
               "                     consoles connected at once, local and TCP together (default\n"
               "                     %zu); one more is closed as soon as it connects\n"
               "  --max-pending-per-source N\n"
               "                     connections from one address (an IPv6 /64, a local user) that\n"
               "                     have not logged in yet (default %zu); one more from there is\n"
               "                     closed as soon as it connects\n"
               "  --login-time SECONDS\n"
               "                     a connection not logged in by then is closed (default %lld);\n"
               "                     logged-in consoles stay as long as they like\n"
               "  -h, --help         print this help\n"
               "The class registry is $QVA_REGISTRY when set (currently %s); the library and the\n"
               "two components are registered in it from the program's folder when they are not.\n",
               kBaseFolderVariable, qva::remote::DefaultSocketPath().c_str(),
               static_cast<unsigned>(qva::remote::DefaultPort()), qva::remote::kDefaultMaxConnections,
               qva::remote::kDefaultMaxPendingPerSource,
               static_cast<long long>(qva::remote::kDefaultLoginTime.count() / 1000),
               com::Registry::DefaultPath().c_str());
}

std::string ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string ErrorDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr description;
  if (FAILED(info->GetDescription(description.put()))) return {};
  return description.utf8();
}

// Copies a template into the base folder unless the file or its working copy is there already.
bool PrepareTemplate(const fs::path& from, const fs::path& to, const fs::path& working) {
  std::error_code ec;
  if (fs::exists(to, ec) || fs::exists(working, ec)) return true;
  if (!fs::exists(from, ec)) {
    std::fprintf(stderr, "vodriksrv: the template %s is missing\n", from.c_str());
    return false;
  }
  // Written under a temporary name and renamed, so a crash never leaves half a template.
  const fs::path temp = to.string() + ".part";
  if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec) || (fs::rename(temp, to, ec), ec)) {
    std::fprintf(stderr, "vodriksrv: cannot copy %s to %s: %s\n", from.c_str(), to.c_str(), ec.message().c_str());
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

// Registers `library` unless the registry names a server file for `clsid` already.
bool Register(const fs::path& library, REFCLSID clsid) {
  const HRESULT hr = com::RegisterServerIfAbsent(library.string(), clsid);
  if (FAILED(hr)) {
    std::fprintf(stderr, "vodriksrv: registering %s failed with code 0x%08X %s\n", library.c_str(),
                 static_cast<unsigned>(hr), ErrorDescription().c_str());
    return false;
  }
  if (hr == S_OK) std::printf("vodriksrv: registered %s\n", library.c_str());
  return true;
}

// The array's whole life: made, initialised, served until a stop signal, released.
int Serve(const std::string& base, const Serving& serving) {
  qva::ServerLog log(base);
  com::ComPtr<IQVA> root;
  HRESULT hr = CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void());
  com::ComPtr<IQVAArray> array;
  if (SUCCEEDED(hr)) hr = root->GetArray(array.put());
  if (FAILED(hr)) {
    std::fprintf(stderr, "vodriksrv: cannot create the array object: code 0x%08X %s\n", static_cast<unsigned>(hr),
                 ErrorDescription().c_str());
    return EX_UNAVAILABLE;
  }

  vodrik::ServiceHost host;
  if (!host.ok()) {
    std::fprintf(stderr, "vodriksrv: cannot watch for stop signals: %s\n", std::strerror(errno));
    return EX_OSERR;
  }

  hr = array->Init();
  if (FAILED(hr)) {
    char line[128];
    std::snprintf(line, sizeof line, "Vodrik server init failed with code 0x%08X.", static_cast<unsigned>(hr));
    log.Write(line, static_cast<int>(qva::LogLevel::kError));
    std::fprintf(stderr, "vodriksrv: %s %s\n", line, ErrorDescription().c_str());
    return EX_CONFIG;
  }
  if (hr == kDatabaseNotOpened) {
    log.Write("Vodrik server running without a database.", static_cast<int>(qva::LogLevel::kWarn));
    std::printf("vodriksrv: the database cannot be opened; the array stays uninitialised (folder %s)\n", base.c_str());
  } else {
    log.Write("Vodrik server running.", static_cast<int>(qva::LogLevel::kNormal));
    std::printf("vodriksrv: running in %s\n", base.c_str());
  }
  std::fflush(stdout);

  // Consoles' calls run on this thread: the remote layer's loop watches the stop signals too.
  qva::remote::ServerOptions options;
  options.socket_path = serving.socket;
  options.listen_tcp = serving.tcp;
  options.tcp_port = serving.port;
  options.accounts_path = serving.logins.empty() ? (fs::path(base) / "logins").string() : serving.logins;
  options.max_connections = serving.max_connections;
  options.max_pending_per_source = serving.max_pending_per_source;
  options.login_time = serving.login_time;
  auto server = qva::remote::Server::Create(array.get(), options);
  int signal = 0;
  if (server) {
    std::printf("vodriksrv: consoles connect on %s", (*server)->socket_path().c_str());
    if (serving.tcp) std::printf(" and TCP port %u", static_cast<unsigned>((*server)->tcp_port()));
    std::printf("\n");
    std::fflush(stdout);
    (*server)->Watch(host.signal_fd(), [&] {
      if ((signal = host.ReadSignal())) (*server)->Stop();
    });
    (*server)->Run();
    (*server)->Unwatch(host.signal_fd());
    server->reset();  // ends every connection, releasing what consoles held, before the array goes
  } else {
    // The accounting goes on without consoles rather than not at all.
    const std::string why = ErrorDescription();
    log.Write("Consoles cannot connect: " + why, static_cast<int>(qva::LogLevel::kError));
    std::fprintf(stderr, "vodriksrv: consoles cannot connect: %s\n", why.c_str());
    std::fflush(stderr);
    signal = host.Run();
  }
  if (signal < 0) {
    std::fprintf(stderr, "vodriksrv: waiting for events failed: %s\n", std::strerror(errno));
    return EX_OSERR;
  }
  log.Write("Vodrik server stopped.", static_cast<int>(qva::LogLevel::kNormal));
  std::printf("vodriksrv: stopped by %s\n", signal > 0 ? strsignal(signal) : "request");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string base;
  Serving serving;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (arg == "--base-folder" && i + 1 < argc) {
      base = argv[++i];
    } else if (arg.starts_with("--base-folder=")) {
      base = arg.substr(std::strlen("--base-folder="));
    } else if (arg == "--socket" && i + 1 < argc) {
      serving.socket = argv[++i];
    } else if (arg == "--logins" && i + 1 < argc) {
      serving.logins = argv[++i];
    } else if (arg == "--max-connections" && i + 1 < argc) {
      const auto n = NumberOption("--max-connections", argv[++i], 1, 65536, "a number");
      if (!n) return EX_USAGE;
      serving.max_connections = static_cast<size_t>(*n);
    } else if (arg == "--max-pending-per-source" && i + 1 < argc) {
      const auto n = NumberOption("--max-pending-per-source", argv[++i], 1, 65536, "a number");
      if (!n) return EX_USAGE;
      serving.max_pending_per_source = static_cast<size_t>(*n);
    } else if (arg == "--login-time" && i + 1 < argc) {
      const auto n = NumberOption("--login-time", argv[++i], 1, 3600, "seconds");
      if (!n) return EX_USAGE;
      serving.login_time = std::chrono::seconds(*n);
    } else if (arg == "--listen-tcp") {
      serving.tcp = true;
      if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
        char* end = nullptr;
        const long port = std::strtol(argv[++i], &end, 10);
        if (*end || port < 0 || port > 65535) {
          std::fprintf(stderr, "vodriksrv: %s is not a port number\n", argv[i]);
          return EX_USAGE;
        }
        serving.port = static_cast<int>(port);
      }
    } else {
      std::fprintf(stderr, "vodriksrv: unexpected argument %s\n", arg.c_str());
      Usage(stderr);
      return EX_USAGE;
    }
  }
  if (base.empty()) {
    const char* env = std::getenv(kBaseFolderVariable);
    base = env && *env ? env : ProgramFolder();
  }

  std::error_code ec;
  if (!fs::is_directory(base, ec)) {
    std::fprintf(stderr, "vodriksrv: the base folder %s does not exist or is not a folder\n", base.c_str());
    return EX_NOINPUT;
  }
  base = fs::canonical(base, ec).string();
  if (access(base.c_str(), W_OK | X_OK) != 0) {
    std::fprintf(stderr, "vodriksrv: the base folder %s is not writable: %s\n", base.c_str(), std::strerror(errno));
    return EX_CANTCREAT;
  }
  // The array reads its base folder from the environment.
  setenv(kBaseFolderVariable, base.c_str(), 1);

  const fs::path program = ProgramFolder();
  if (!PrepareTemplate(program / "vodrik_e.xmt", fs::path(base) / "vodrik_e.xmt", fs::path(base) / "vodrik_e.xml") ||
      !PrepareTemplate(program / "Vodrik.ntt", fs::path(base) / "Vodrik.ntt", fs::path(base) / "Vodrik_e.ntf"))
    return EX_CANTCREAT;

  // Before any thread exists, so that every thread keeps the signals blocked for the signalfd.
  if (!vodrik::BlockStopSignals()) {
    std::fprintf(stderr, "vodriksrv: cannot block the stop signals\n");
    return EX_OSERR;
  }
  if (!Register(program / "libqvacom.so", CLSID_QVAArray) ||
      !Register(program / "libvodrikcontrol.so", vodrik::kControlClsid) ||
      !Register(program / "libvodrikfw.so", vodrik::kFirewallAdapterClsid))
    return EX_UNAVAILABLE;

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "vodriksrv: cannot enter an apartment\n");
    return EX_OSERR;
  }
  const int rc = Serve(base, serving);
  CoUninitialize();
  return rc;
}
