// vizadavu-form's window on Windows: plain Win32 controls around a vizADAVU
// control whose loop is the thread's message queue, so the window stays live
// while a transfer runs.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/form-win32/Face.h"
#include "vizadavu/vizADAVU.h"
#include "vizadavu/win32/MessageLoop.h"

namespace vizadavu::form {

// What the window starts with (from the command line).
struct Settings {
  std::wstring url;
  bool get = false;
  bool plain = false;   // TLS, the control's default
  bool submit = false;  // submit once the window is shown
  std::vector<std::pair<std::wstring, std::wstring>> fields;
};

class FormWindow final : public vizADAVUEvents {
 public:
  static constexpr int kRows = 8;  // rows of the fields table

  // Creates and shows the window; false when that failed.
  bool Open(HINSTANCE instance, const Settings& settings, int show);
  HWND handle() const { return window_; }

  void Status(Long StatusCode, const Text& Description) override;
  void EndTransfer() override;
  void Error(const Text& ErrorMessage) override;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void Build(const Settings& settings);
  void Layout(int width, int height);
  void Submit();
  void ShowReply();
  void AddEvent(const std::wstring& line);
  void SetPhase(Phase phase);
  HWND Child(const wchar_t* type, const wchar_t* text, DWORD style, int id = 0, DWORD ex = 0);

  HWND window_ = nullptr;
  HWND url_ = nullptr, method_ = nullptr, plain_ = nullptr, submit_ = nullptr, cancel_ = nullptr;
  HWND urlLabel_ = nullptr, methodLabel_ = nullptr, fieldsLabel_ = nullptr, eventsLabel_ = nullptr;
  HWND textLabel_ = nullptr, bytesLabel_ = nullptr;
  std::array<HWND, kRows> names_{}, values_{};
  HWND events_ = nullptr, replyText_ = nullptr, replyBytes_ = nullptr;
  HFONT font_ = nullptr, fixed_ = nullptr;
  RECT face_{};
  Phase phase_ = Phase::Idle;
  bool busy_ = false;
  bool closeAsked_ = false;  // closed while a transfer ran: destroyed after it
  win32::MessageLoop loop_;
  vizADAVU control_{this, &loop_};
};

// The reply as the text pane shows it: line ends as CR LF, a NUL as U+2400.
std::wstring ReplyText(std::u16string_view reply);
// Sixteen bytes a line: offset, hex, and the printable ASCII ones; at most
// maxBytes of them, then how many more there were.
std::wstring HexDump(const std::string& bytes, std::size_t maxBytes = 64 * 1024);

// Overwrites a string's characters before its memory is freed: replies and
// form values pass through these.
template <typename String>
void Wipe(String& text) {
  SecureZeroMemory(text.data(), text.size() * sizeof text[0]);
  text.clear();
  text.shrink_to_fit();
}

}  // namespace vizadavu::form
