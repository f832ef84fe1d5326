// qva-add-login FILE USER [DOMAIN]
//
// Adds a login to the accounts file the service reads (ServerOptions::accounts_path), or gives
// an existing one a new password. The password is read from the first line of standard input,
// so it appears neither in the process list nor in the shell's history:
//
//     printf '%s\n' "$password" | qva-add-login /etc/vodriksrv/logins alice CORP
//
// Only the salted verifier is written; the file is replaced atomically and left readable by its
// owner alone.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/remote/auth.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s FILE USER [DOMAIN]   (password on standard input)\n", argv[0]);
    return 2;
  }
  const bool tty = ::isatty(STDIN_FILENO);
  termios saved{};
  if (tty) {
    std::fprintf(stderr, "Password: ");
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string password;
  std::getline(std::cin, password);
  if (tty) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  const HRESULT hr = qva::remote::AddLogin(argv[1], argv[2], argc == 4 ? argv[3] : "", password);
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s: cannot add the login (0x%08X): %s\n", argv[0], static_cast<unsigned>(hr),
                 hr == E_INVALIDARG ? "names may not be empty or contain ':' or line breaks" : "cannot write the file");
    return 1;
  }
  return 0;
}
