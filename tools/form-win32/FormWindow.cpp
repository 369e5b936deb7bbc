#include "tools/form-win32/FormWindow.h"

#include <algorithm>
#include <exception>

namespace vizadavu::form {
namespace {

enum : int { kUrl = 100, kMethod, kPlain, kSubmit, kCancel, kEvents, kText, kBytes };
constexpr wchar_t kClass[] = L"vizadavuFormWindow";
constexpr int kMargin = 10, kLine = 24, kGap = 6;
constexpr int kWidth = 1040, kHeight = 700;  // the window at first
constexpr UINT kSubmitNow = WM_APP + 1;      // posted by Open for --submit

std::wstring WindowText(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

Text ToText(const std::wstring& text) {
  return Text(text.begin(), text.end());
}

std::wstring ToWide(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

void Place(HWND control, int x, int y, int width, int height) {
  MoveWindow(control, x, y, std::max(width, 0), std::max(height, 0), TRUE);
}

}  // namespace

bool FormWindow::Open(HINSTANCE instance, const Settings& settings, int show) {
  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  type.lpfnWndProc = Procedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  type.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  type.lpszClassName = kClass;
  if (RegisterClassExW(&type) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  window_ = CreateWindowExW(0, kClass, L"vizadavu-form", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, kWidth, kHeight, nullptr, nullptr, instance, this);
  if (window_ == nullptr) return false;
  Build(settings);
  ShowWindow(window_, show);
  UpdateWindow(window_);
  if (settings.submit) PostMessageW(window_, kSubmitNow, 0, 0);
  return true;
}

LRESULT CALLBACK FormWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
  }
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self != nullptr ? self->Handle(message, w, l) : DefWindowProcW(window, message, w, l);
}

HWND FormWindow::Child(const wchar_t* type, const wchar_t* text, DWORD style, int id, DWORD ex) {
  const HWND child =
      CreateWindowExW(ex, type, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return child;
}

void FormWindow::Build(const Settings& settings) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  fixed_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                       FIXED_PITCH | FF_MODERN, L"Courier New");
  const DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
  urlLabel_ = Child(L"STATIC", L"URL", SS_LEFT);
  url_ = Child(L"EDIT", settings.url.c_str(), edit, kUrl, WS_EX_CLIENTEDGE);
  methodLabel_ = Child(L"STATIC", L"Method", SS_LEFT);
  method_ = Child(L"COMBOBOX", L"", WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL, kMethod);
  SendMessageW(method_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"POST"));
  SendMessageW(method_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"GET"));
  SendMessageW(method_, CB_SETCURSEL, settings.get ? 1 : 0, 0);
  plain_ = Child(L"BUTTON", L"Plain HTTP (Secure_Mode_Off)", WS_TABSTOP | BS_AUTOCHECKBOX, kPlain);
  SendMessageW(plain_, BM_SETCHECK, settings.plain ? BST_CHECKED : BST_UNCHECKED, 0);
  submit_ = Child(L"BUTTON", L"Submit", WS_TABSTOP | BS_DEFPUSHBUTTON, kSubmit);
  cancel_ = Child(L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, kCancel);
  EnableWindow(cancel_, FALSE);
  fieldsLabel_ = Child(L"STATIC", L"Fields (Name = Value)", SS_LEFT);
  for (int i = 0; i < kRows; ++i) {
    const auto row = static_cast<std::size_t>(i);
    const bool given = row < settings.fields.size();
    names_[row] =
        Child(L"EDIT", given ? settings.fields[row].first.c_str() : L"", edit, 0, WS_EX_CLIENTEDGE);
    values_[row] = Child(L"EDIT", given ? settings.fields[row].second.c_str() : L"", edit, 0,
                         WS_EX_CLIENTEDGE);
  }
  eventsLabel_ = Child(L"STATIC", L"Events", SS_LEFT);
  events_ = Child(L"LISTBOX", L"", WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL,
                  kEvents, WS_EX_CLIENTEDGE);
  const DWORD pane = WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
  textLabel_ = Child(L"STATIC", L"Reply as text (ReceiveBuffer)", SS_LEFT);
  replyText_ = Child(L"EDIT", L"", pane, kText, WS_EX_CLIENTEDGE);
  bytesLabel_ = Child(L"STATIC", L"Reply as bytes", SS_LEFT);
  replyBytes_ = Child(L"EDIT", L"", pane, kBytes, WS_EX_CLIENTEDGE);
  SendMessageW(replyBytes_, WM_SETFONT, reinterpret_cast<WPARAM>(fixed_), FALSE);
  // Replies can be long: lift the edit controls' default limit of 32 Ki characters.
  SendMessageW(replyText_, EM_SETLIMITTEXT, 0, 0);
  SendMessageW(replyBytes_, EM_SETLIMITTEXT, 0, 0);
  RECT client{};
  GetClientRect(window_, &client);
  Layout(client.right, client.bottom);
}

void FormWindow::Layout(int width, int height) {
  const int right = width - kMargin;
  int y = kMargin;
  face_ = {right - 32, y, right, y + 32};
  Place(urlLabel_, kMargin, y + 4, 50, kLine - 4);
  Place(url_, kMargin + 55, y, right - 32 - kGap * 2 - kMargin - 55, kLine);
  y += kLine + kGap + 4;
  Place(methodLabel_, kMargin, y + 4, 50, kLine - 4);
  Place(method_, kMargin + 55, y, 90, 200);
  Place(plain_, kMargin + 160, y, 220, kLine);
  Place(submit_, kMargin + 390, y - 1, 90, kLine + 2);
  Place(cancel_, kMargin + 490, y - 1, 90, kLine + 2);
  y += kLine + kGap * 2;
  // The right-hand column is the wider: a hex dump line is 77 characters.
  const int half = (width - 3 * kMargin) * 2 / 5;
  const int second = kMargin * 2 + half;
  const int wide = right - second;
  Place(fieldsLabel_, kMargin, y, half, kLine - 6);
  Place(eventsLabel_, second, y, wide, kLine - 6);
  y += kLine - 4;
  const int top = y;
  for (std::size_t row = 0; row < names_.size(); ++row) {
    const int nameWidth = half * 2 / 5;
    Place(names_[row], kMargin, y, nameWidth - 4, kLine - 2);
    Place(values_[row], kMargin + nameWidth, y, half - nameWidth, kLine - 2);
    y += kLine;
  }
  Place(events_, second, top, wide, y - top - 2);
  y += kGap;
  Place(textLabel_, kMargin, y, half, kLine - 6);
  Place(bytesLabel_, second, y, wide, kLine - 6);
  y += kLine - 4;
  Place(replyText_, kMargin, y, half, height - y - kMargin);
  Place(replyBytes_, second, y, wide, height - y - kMargin);
  InvalidateRect(window_, &face_, TRUE);
}

LRESULT FormWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SIZE:
      if (url_ != nullptr) Layout(LOWORD(l), HIWORD(l));
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(l)->ptMinTrackSize = {720, 520};
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window_, &paint);
      DrawFace(dc, face_.left, face_.top, phase_);
      EndPaint(window_, &paint);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(w) == kSubmit || (LOWORD(w) == IDOK && !busy_)) Submit();
      if (LOWORD(w) == kCancel) control_.Cancel();
      return 0;
    case kSubmitNow:
      Submit();
      return 0;
    case WM_CLOSE:
      if (busy_) {
        // The transfer is inside this window's own call: end it first.
        closeAsked_ = true;
        control_.Cancel();
        return 0;
      }
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      control_.Clear();
      DeleteObject(font_);
      DeleteObject(fixed_);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window_, message, w, l);
  }
}

void FormWindow::SetPhase(Phase phase) {
  phase_ = phase;
  InvalidateRect(window_, &face_, TRUE);
}

void FormWindow::AddEvent(const std::wstring& line) {
  const LRESULT index =
      SendMessageW(events_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  if (index >= 0) SendMessageW(events_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void FormWindow::Submit() {
  // The control's loop dispatches this window's messages while the transfer
  // runs: a second Submit then must not start another one.
  if (busy_) return;
  busy_ = true;
  EnableWindow(submit_, FALSE);
  EnableWindow(cancel_, TRUE);
  SetWindowTextW(replyText_, L"");
  SetWindowTextW(replyBytes_, L"");
  SendMessageW(events_, LB_RESETCONTENT, 0, 0);
  control_.Clear();
  std::vector<std::pair<Text, Text>> fields;
  for (std::size_t row = 0; row < names_.size(); ++row) {
    std::wstring name = WindowText(names_[row]);
    std::wstring value = WindowText(values_[row]);
    if (!name.empty()) fields.emplace_back(ToText(name), ToText(value));
    Wipe(name);
    Wipe(value);
  }
  control_.FormVarCount(static_cast<Long>(fields.size()));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    control_.FormVarNames(static_cast<Long>(i + 1), fields[i].first);
    control_.FormVarValues(static_cast<Long>(i + 1), fields[i].second);
    Wipe(fields[i].first);
    Wipe(fields[i].second);
  }
  control_.URL(ToText(WindowText(url_)));
  control_.Secure_Mode_Off = SendMessageW(plain_, BM_GETCHECK, 0, 0) == BST_CHECKED;
  control_.YieldWhileWaiting = true;  // the window repaints and Cancel works meanwhile
  const bool post = SendMessageW(method_, CB_GETCURSEL, 0, 0) == 0;
  AddEvent(std::wstring(L"Action = ") + (post ? L"1 (POST)" : L"0 (GET)") +
           L"; the one-second pause comes first");
  SetPhase(Phase::Pausing);
  try {
    control_.Action(post ? 1 : 0);
  } catch (const std::exception& e) {  // not expected: the window is not busy here
    AddEvent(L"not submitted: " + ToWide(e.what()));
    SetPhase(Phase::Failed);
  }
  ShowReply();
  busy_ = false;
  EnableWindow(submit_, TRUE);
  EnableWindow(cancel_, FALSE);
  if (closeAsked_) DestroyWindow(window_);
}

void FormWindow::ShowReply() {
  std::wstring text = ReplyText(control_.ReceiveBufferView());
  SetWindowTextW(replyText_, text.c_str());
  Wipe(text);
  // The chunked read's text holds one character per reply byte (code page).
  Text copy(control_.ReceiveBufferView());
  std::string bytes = TextToAnsi(copy);
  Wipe(copy);
  std::wstring hex = HexDump(bytes);
  SetWindowTextW(replyBytes_, hex.c_str());
  Wipe(hex);
  Wipe(bytes);
}

void FormWindow::Status(Long StatusCode, const Text& Description) {
  std::wstring line = L"Status " + std::to_wstring(StatusCode);
  if (StatusCode == status::SendingRequest) line += L" (sending the request)";
  if (StatusCode == status::RequestSent) line += L" (request sent; reading the reply)";
  if (!Description.empty()) line += L": " + std::wstring(Description.begin(), Description.end());
  AddEvent(line);
  SetPhase(StatusCode == status::RequestSent ? Phase::Receiving : Phase::Sending);
}

void FormWindow::EndTransfer() {
  AddEvent(L"EndTransfer: HTTP " + std::to_wstring(control_.HttpStatusCode()) + L", " +
           std::to_wstring(control_.BytesReceived()) + L" bytes");
  SetPhase(Phase::Done);
}

void FormWindow::Error(const Text& ErrorMessage) {
  std::wstring line = L"Error " + std::wstring(ErrorMessage.begin(), ErrorMessage.end());
  if (const auto code = errors::CodeOf(ErrorMessage)) {
    line += L": " + ToWide(errors::Describe(*code));
  }
  AddEvent(line);
  SetPhase(Phase::Failed);
}

}  // namespace vizadavu::form
