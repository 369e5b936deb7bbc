// vizadavu-form on Windows: a window with a form, submitted by the vizADAVU
// control (Windows subsystem, wide entry point).
//   vizadavu-form [-g] [-p] [--submit] [URL [NAME=VALUE ...]]
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "tools/form-win32/FormWindow.h"

namespace {

constexpr wchar_t kUsage[] =
    L"usage: vizadavu-form [options] [URL [NAME=VALUE ...]]\n\n"
    L"  -g, --get     select GET instead of POST\n"
    L"  -p, --plain   plain HTTP (Secure_Mode_Off) instead of TLS\n"
    L"      --submit  submit the form as soon as the window is shown\n"
    L"  -h, --help    show this help\n\n"
    L"The fields fill the table's rows in order (at most 8).";

constexpr int kExitUsage = 64;

// Fills settings from the arguments; false (with the reason in why) when one
// is not understood.
bool Parse(int argc, wchar_t** argv, vizadavu::form::Settings& settings, bool& help,
           std::wstring& why) {
  bool haveUrl = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"-g" || arg == L"--get") {
      settings.get = true;
    } else if (arg == L"-p" || arg == L"--plain") {
      settings.plain = true;
    } else if (arg == L"--submit") {
      settings.submit = true;
    } else if (arg == L"-h" || arg == L"--help" || arg == L"/?") {
      help = true;
    } else if (!arg.empty() && arg[0] == L'-') {
      why = L"unknown option '" + arg + L"'";
      return false;
    } else if (!haveUrl) {
      settings.url = arg;
      haveUrl = true;
    } else {
      const std::size_t eq = arg.find(L'=');
      if (eq == std::wstring::npos || eq == 0) {
        why = L"'" + arg + L"' is not NAME=VALUE";
        return false;
      }
      if (settings.fields.size() == vizadavu::form::FormWindow::kRows) {
        why = L"more than 8 fields";
        return false;
      }
      settings.fields.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
    }
  }
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  vizadavu::form::Settings settings;
  bool help = false;
  std::wstring why;
  const bool parsed = argv != nullptr && Parse(argc, argv, settings, help, why);
  if (argv != nullptr) LocalFree(argv);
  if (!parsed || help) {
    const std::wstring text = parsed ? kUsage : L"vizadavu-form: " + why + L"\n\n" + kUsage;
    MessageBoxW(nullptr, text.c_str(), L"vizadavu-form", parsed ? MB_OK : MB_OK | MB_ICONERROR);
    return parsed ? 0 : kExitUsage;
  }
  vizadavu::form::FormWindow window;
  if (!window.Open(instance, settings, show)) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab moves between the controls; Enter submits.
    if (IsDialogMessageW(window.handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
