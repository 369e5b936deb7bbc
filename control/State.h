// The state one control holds, shared by the files that implement its members.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "control/Wipe.h"
#include "platform/Services.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu {

struct FormVar {
  Text Name;
  Text Value;
};

struct vizADAVU::State {
  State(vizADAVUEvents* events, MessageLoop* loop, const platform::Services& services);

  // Host-facing collaborators.
  vizADAVUEvents* events;
  MessageLoop* loop;

  // Built-in services, present only where the host supplied none.
  std::unique_ptr<platform::Internet> ownInternet;
  platform::SteadyClock ownClock;
  platform::SplitMixRandom ownRandom;
  platform::Internet& internet;
  platform::Clock& clock;
  platform::Random& random;
  platform::Memory& memory;

  Text URL;
  detail::SecretText ReceiveText;
  std::optional<std::vector<FormVar>> FormVars;  // indexes 0 .. FormVarCount; none at start
  Integer FormVarCount = 0;
  Text ServerName;
  Text ObjectName;
  std::optional<detail::SecretBytes> ReceiveBytes;  // none at start
  Long BytesRead = 0;

  bool transferRunning = false;

  void Yield() {
    if (loop != nullptr) loop->DoEvents();
  }
};

namespace detail {
// Runs one transfer with the Integer value of Action; reports through events.
void RunTransfer(vizADAVU& control, vizADAVU::State& s, Integer action);
}  // namespace detail

}  // namespace vizadavu
