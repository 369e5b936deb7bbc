// The vizadavu program's entry point on Windows (built with -municode): the
// arguments come as UTF-16 from the system and are passed on as UTF-8, exactly
// as on Linux, whatever the ANSI code page.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/vizadavu/Cli.h"

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

// Runs on a thread of its own that the system starts for Ctrl-C or
// Ctrl-Break: only notes it; the program's message loop cancels the transfer.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  gInterrupted = 1;
  return TRUE;
}

// The progress line redraws itself with escape sequences: only on a console
// that interprets them.
bool ErrorIsTerminal() {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err == nullptr || err == INVALID_HANDLE_VALUE || !GetConsoleMode(err, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The reply is written as the bytes the server sent and field files are
  // read as they are: no CR LF translation, no end at Ctrl-Z.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  std::ios::sync_with_stdio(false);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    args.push_back(
        vizadavu::TextToUtf8(vizadavu::Text(reinterpret_cast<const char16_t*>(argv[i]))));
  }
  return vizadavu::cli::Main(
      args, {std::cin, std::cout, std::cerr, ErrorIsTerminal(), &gInterrupted, std::nullopt});
}
