// An event sink and message loop that record what the control raised, in order.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {

class Recorder : public vizADAVUEvents, public MessageLoop {
 public:
  std::vector<std::string> events;  // "Status 21", "EndTransfer", "Error 12029", "DoEvents"
  bool recordDoEvents = false;
  int doEvents = 0;
  std::function<void(const std::string&)> onEvent;
  // Set: the loop can wait for its messages; a wait is noted as "Wait N" (its
  // time-out in ms), then onWait runs (and may move a fake clock).
  std::function<void(std::chrono::milliseconds)> onWait;

  void EndTransfer() override { Note("EndTransfer"); }
  void Status(Long StatusCode, const Text& Description) override {
    Note("Status " + std::to_string(StatusCode) + TextToUtf8(Description));
  }
  void Error(const Text& ErrorMessage) override { Note("Error " + TextToUtf8(ErrorMessage)); }
  void DoEvents() override {
    ++doEvents;
    if (recordDoEvents) Note("DoEvents");
  }
  bool WaitForEvents(std::chrono::milliseconds timeout) override {
    if (!onWait) return false;
    Note("Wait " + std::to_string(timeout.count()));
    onWait(timeout);
    return true;
  }

 private:
  void Note(const std::string& what) {
    events.push_back(what);
    if (onEvent) onEvent(what);
  }
};

}  // namespace vizadavu::test
