#include "tools/vodrikctl/connect.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "components/interfaces.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/guid.h"
#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "platform/remote/client.h"
#include "tools/vodrikctl/automation.h"

namespace vodrikctl {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBaseFolderVariable = "QVA_BASE_FOLDER";  // the array's own
constexpr HRESULT kDatabaseNotOpened = static_cast<HRESULT>(0x00040203);
constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007E);  // ERROR_MOD_NOT_FOUND

fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path(".") : exe.parent_path();
}

// Loads a library of this program's folder; it stays loaded (its objects outlive any scope here).
void* Load(const fs::path& library) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw Failure{kModuleNotFound, "cannot load " + library.string(), dlerror()};
  return handle;
}

void EnsureRegistered(const fs::path& library, REFCLSID clsid) {
  const HRESULT hr = com::RegisterServerIfAbsent(library.string(), clsid);
  if (FAILED(hr)) Throw(hr, "registering " + library.string());
}

// The root object from the library next to this program, without the registry.
com::ComPtr<IQVA> RootFromLibrary() {
  const fs::path library = ProgramFolder() / "libqvacom.so";
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(Load(library), "DllGetClassObject"));
  if (!get) throw Failure{E_FAIL, library.string() + " has no DllGetClassObject", {}};
  com::ComPtr<IClassFactory> factory;
  HRESULT hr = get(CLSID_QVA, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) Throw(hr, "the root object's class");
  com::ComPtr<IQVA> root;
  hr = factory->CreateInstance(nullptr, IID_IQVA, root.put_void());
  if (FAILED(hr)) Throw(hr, "creating the root object");
  return root;
}

// Keeps a secret out of memory once it is no longer needed.
struct Secret {
  std::string text;
  ~Secret() { explicit_bzero(text.data(), text.size()); }
};

void ReadPasswordFile(const std::string& path, Secret* password) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    throw Failure{kNoBaseFolder, "cannot read the password file " + path, std::strerror(errno)};
  if (st.st_mode & (S_IRWXG | S_IRWXO))
    std::fprintf(stderr, "vodrikctl: warning: %s can be read by other users (chmod 600 it)\n", path.c_str());
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{kNoBaseFolder, "cannot read the password file " + path, std::strerror(errno)};
  std::getline(in, password->text);
  if (!password->text.empty() && password->text.back() == '\r') password->text.pop_back();
}

// The terminal's settings while the prompt has echo off, for the signal handler to restore.
termios g_saved_terminal{};

void RestoreTerminalAndDie(int signal) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_terminal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Asks on the terminal with echo off. Only called when standard input is a terminal. An
// interrupt at the prompt turns echo back on before the program ends.
void PromptPassword(const std::string& user, Secret* password) {
  std::fprintf(stderr, "Password for %s: ", user.c_str());
  std::fflush(stderr);
  const bool restore = tcgetattr(STDIN_FILENO, &g_saved_terminal) == 0;
  using Handler = void (*)(int);
  Handler old_int = SIG_DFL, old_term = SIG_DFL, old_quit = SIG_DFL;
  if (restore) {
    old_int = std::signal(SIGINT, RestoreTerminalAndDie);
    old_term = std::signal(SIGTERM, RestoreTerminalAndDie);
    old_quit = std::signal(SIGQUIT, RestoreTerminalAndDie);
    termios quiet = g_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  char buffer[1024];
  const bool got = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
  if (restore) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_terminal);
    std::signal(SIGINT, old_int);
    std::signal(SIGTERM, old_term);
    std::signal(SIGQUIT, old_quit);
  }
  std::fprintf(stderr, "\n");
  if (got) {
    password->text = buffer;
    while (!password->text.empty() && (password->text.back() == '\n' || password->text.back() == '\r'))
      password->text.pop_back();
  }
  explicit_bzero(buffer, sizeof buffer);
}

com::ComPtr<IQVAArray> ConnectOnline(const ConnectOptions& options) {
  Secret password;
  if (!options.password_file.empty()) {
    ReadPasswordFile(options.password_file, &password);
  } else if (!options.user.empty()) {
    if (!isatty(STDIN_FILENO))
      throw UsageError{"--user needs a password: give --password-file FILE (standard input is not a terminal)"};
    PromptPassword(options.domain.empty() ? options.user : options.domain + "\\" + options.user, &password);
  }
  qva::remote::InstallClient();
  com::ComPtr<IQVA> root = RootFromLibrary();
  com::Bstr server(options.server), user(options.user), domain(options.domain), secret(password.text);
  com::ComPtr<IQVAArray> array;
  SetErrorInfo(0, nullptr);
  const HRESULT hr = root->Connect(server.get(), user.get(), domain.get(), secret.get(), array.put());
  // The BSTR copy of the password is wiped before it is freed.
  if (secret.get()) explicit_bzero(secret.get(), secret.size() * sizeof(OLECHAR));
  if (FAILED(hr) || !array)
    Throw(FAILED(hr) ? hr : E_POINTER,
          "cannot connect to the service" + (options.server.empty() ? std::string() : " on " + options.server));
  return array;
}

com::ComPtr<IQVAArray> ConnectOffline(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw Failure{kNoBaseFolder, "the base folder " + folder + " does not exist", {}};
  const fs::path base = fs::canonical(folder, ec);
  if (!fs::exists(base / "vodrik_e.xml", ec) && !fs::exists(base / "vodrik_e.xmt", ec))
    throw Failure{kNoBaseFolder, base.string() + " holds no settings (vodrik_e.xml or its template vodrik_e.xmt)", {}};
  setenv(kBaseFolderVariable, base.c_str(), 1);

  const fs::path program = ProgramFolder();
  EnsureRegistered(program / "libqvacom.so", CLSID_QVAArray);
  EnsureRegistered(program / "libvodrikcontrol.so", vodrik::kControlClsid);
  EnsureRegistered(program / "libvodrikfw.so", vodrik::kFirewallAdapterClsid);

  com::ComPtr<IQVA> root;
  HRESULT hr = CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void());
  if (FAILED(hr)) Throw(hr, "creating the root object");
  com::ComPtr<IQVAArray> array;
  hr = root->GetArray(array.put());
  if (FAILED(hr)) Throw(hr, "creating the array object");
  SetErrorInfo(0, nullptr);
  hr = array->Init();
  if (FAILED(hr)) Throw(hr, "the array's Init in " + base.string());
  if (hr == kDatabaseNotOpened)
    throw Failure{static_cast<HRESULT>(0x80004005), "the array's Init in " + base.string(),
                  "the database cannot be opened (see the server log in logs/)"};
  return array;
}

}  // namespace

com::ComPtr<IQVAArray> Connect(const ConnectOptions& options) {
  return options.offline.empty() ? ConnectOnline(options) : ConnectOffline(options.offline);
}

}  // namespace vodrikctl
