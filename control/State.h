// The state one control holds, shared by the files that implement its members.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "control/ReplyStorage.h"
#include "platform/SecureMemory.h"
#include "platform/Services.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu {

// Overwrites every character a text's storage can hold, unused capacity and
// the short-string buffer inside the object included.
inline void WipeText(Text& text) noexcept {
  platform::SecureWipe(text.data(), text.capacity() * sizeof(char16_t));
}

// One entry of the form table. A value is often a password: both texts are
// wiped before their storage is released, and a table that grows wipes the
// block it leaves (see FormTable).
struct FormVar {
  Text Name;
  Text Value;
  ~FormVar() {
    WipeText(Name);
    WipeText(Value);
  }
};
using FormTable = std::vector<FormVar, platform::WipingAllocator<FormVar>>;

struct detail::State {
  State(vizADAVUEvents* events, MessageLoop* loop, const platform::Services& services);

  // Host-facing collaborators.
  vizADAVUEvents* events;
  MessageLoop* loop;

  // Built-in services, present only where the host supplied none.
  std::unique_ptr<platform::Internet> ownInternet;
  platform::SplitMixRandom ownRandom;
  platform::Internet& internet;
  platform::Clock& clock;
  platform::Random& random;
  platform::Memory& memory;

  // The control's own variables, named as the public members that show them
  // (URL, BytesRead, ...); everything else here is named in camelCase.
  Text URL;
  detail::SecretText ReceiveText;
  std::optional<FormTable> FormVars;  // indexes 0 .. FormVarCount; none at start
  Integer FormVarCount = 0;
  Text ServerName;
  Text ObjectName;
  std::optional<detail::SecretBytes> ReceiveBytes;  // none at start
  Long BytesRead = 0;
  std::uint64_t bytesReceived = 0;  // reply body bytes of this transfer so far

  // Whether a transfer runs and whether it was asked to stop, in one atomic, so
  // that Cancel may come from any thread and only ever reaches the transfer
  // running at that moment. Every other field belongs to the host's thread.
  enum class Run : std::uint8_t { Idle, Running, Cancelled };
  std::atomic<Run> run{Run::Idle};
  bool TransferRunning() const noexcept { return run.load() != Run::Idle; }
  bool CancelRequested() const noexcept { return run.load() == Run::Cancelled; }
  // The control was destroyed by the host during its own transfer: the transfer
  // touches nothing of the host's any more, and frees this state when it unwinds.
  bool abandoned = false;
  Long HttpStatusCode = 0;

  void Yield() {
    if (loop != nullptr) loop->DoEvents();
  }
};

namespace detail {
// The state of a control made with the public constructor. The shipped
// libraries build it on the built-in services (control/BuiltInState.cpp); the
// internal library of the tests, benchmarks and fuzzers links its own
// (control/Testing.cpp), which takes the services Testing hands it.
std::unique_ptr<State> NewState(vizADAVUEvents* events, MessageLoop* loop);

// Runs one transfer with the Integer value of Action; reports through events.
void RunTransfer(vizADAVU& control, State& s, Integer action);
}  // namespace detail

}  // namespace vizadavu
