// An event sink and message loop that record what the control raised, in order.
#pragma once

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

  void EndTransfer() override { Note("EndTransfer"); }
  void Status(Long StatusCode, const Text& Description) override {
    Note("Status " + std::to_string(StatusCode) + TextToUtf8(Description));
  }
  void Error(const Text& ErrorMessage) override { Note("Error " + TextToUtf8(ErrorMessage)); }
  void DoEvents() override {
    ++doEvents;
    if (recordDoEvents) Note("DoEvents");
  }

 private:
  void Note(const std::string& what) {
    events.push_back(what);
    if (onEvent) onEvent(what);
  }
};

}  // namespace vizadavu::test
