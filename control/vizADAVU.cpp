// The control's state, construction and the accessors of URL and the form table.
#include <limits>
#include <stdexcept>
#include <string>

#include "control/Encoding.h"
#include "control/State.h"
#include "platform/BuiltIn.h"

namespace vizadavu {
namespace {

Integer ToInteger(Long value, const char* what) {
  if (value < std::numeric_limits<Integer>::min() || value > std::numeric_limits<Integer>::max()) {
    throw std::overflow_error(std::string(what) + ": " + std::to_string(value) +
                              " is outside -32768..32767");
  }
  return static_cast<Integer>(value);
}

FormVar& Entry(std::optional<FormTable>& table, Long index, const char* what) {
  const Integer i = ToInteger(index, what);
  if (!table || i < 0 || static_cast<std::size_t>(i) >= table->size()) {
    throw std::out_of_range(std::string(what) + ": index " + std::to_string(i) +
                            (table ? " is outside the form table" : ": the form table is empty"));
  }
  return (*table)[static_cast<std::size_t>(i)];
}

// Replaces a form text, wiping the old one first: assignment may move the text
// to a larger block and free the old one as it stands.
void Assign(Text& to, const Text& from) {
  WipeText(to);
  to = from;
}

}  // namespace

detail::State::State(vizADAVUEvents* events_, MessageLoop* loop_,
                     const platform::Services& services)
    : events(events_),
      loop(loop_),
      ownInternet(services.internet
                      ? nullptr
                      : platform::MakeBuiltInInternet(services.memory ? *services.memory
                                                                      : platform::SystemMemory())),
      internet(services.internet ? *services.internet : *ownInternet),
      clock(services.clock ? *services.clock : platform::SystemClock()),
      random(services.random ? *services.random : ownRandom),
      memory(services.memory ? *services.memory : platform::SystemMemory()),
      ReceiveText(memory) {}

vizADAVU::vizADAVU(vizADAVUEvents* events, MessageLoop* loop)
    : state_(detail::NewState(events, loop)) {}

vizADAVU::~vizADAVU() {
  // Destroyed from an event handler or the message loop while its own transfer
  // runs: the transfer stops at its next look, and the state it works on goes
  // when it unwinds (RunTransfer).
  if (state_ && state_->TransferRunning()) {
    state_->abandoned = true;
    (void)state_.release();
  }
}

Text vizADAVU::URL() const {
  return state_->URL;
}
void vizADAVU::URL(const Text& NewURL) {
  state_->URL = NewURL;
}

Text vizADAVU::FormVarNames(Long Index) const {
  return Entry(state_->FormVars, Index, "FormVarNames").Name;
}
void vizADAVU::FormVarNames(Long Index, const Text& NewData) {
  Assign(Entry(state_->FormVars, Index, "FormVarNames").Name, NewData);
}
Text vizADAVU::FormVarValues(Long Index) const {
  return Entry(state_->FormVars, Index, "FormVarValues").Value;
}
void vizADAVU::FormVarValues(Long Index, const Text& NewData) {
  Assign(Entry(state_->FormVars, Index, "FormVarValues").Value, NewData);
}

Integer vizADAVU::FormVarCount() const {
  return state_->FormVarCount;
}

void vizADAVU::FormVarCount(Long Count) {
  // The count is stored before the table is resized, so a negative count stays
  // recorded (and sends no body) while the table keeps its size and entries.
  state_->FormVarCount = ToInteger(Count, "FormVarCount");
  if (Count < 0) {
    throw std::out_of_range("FormVarCount: " + std::to_string(Count) +
                            " leaves no valid index; the form table keeps its size");
  }
  if (!state_->FormVars) state_->FormVars.emplace();
  state_->FormVars->resize(static_cast<std::size_t>(Count) + 1);
}

Text vizADAVU::URLEncode(const Text& sRawURL) const {
  return detail::URLEncode(sRawURL);
}

void vizADAVU::Cancel() noexcept {
  // Only a running transfer is marked, so a cancel never outlives its transfer,
  // also when it comes from another thread as the transfer ends.
  auto running = detail::State::Run::Running;
  state_->run.compare_exchange_strong(running, detail::State::Run::Cancelled);
}

Long vizADAVU::HttpStatusCode() const {
  return state_->HttpStatusCode;
}

void vizADAVU::Action(Long a_Action) {
  const Integer action = ToInteger(a_Action, "Action");
  if (state_->TransferRunning()) {
    throw std::logic_error("Action: a transfer is already running on this control");
  }
  detail::RunTransfer(*this, *state_, action);
}

}  // namespace vizadavu
