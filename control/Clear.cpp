// Clear: the reply wiped and released, the control back to its defaults (but
// for the URL).
#include <stdexcept>

#include "control/RandomFill.h"
#include "control/State.h"

namespace vizadavu {

void vizADAVU::Clear() {
  detail::State& s = *state_;
  if (s.TransferRunning()) throw std::logic_error("Clear: a transfer is running on this control");

  // Exactly the storage that held reply data gets random values: the bytes the
  // reads wrote (the single-read buffer or the chunk buffer) and the reply
  // text's characters. Capacity that was never written is released untouched,
  // so a huge buffer that received a few bytes costs only those bytes.
  detail::RandomFiller fill(s.clock, s.random);
  if (s.ReceiveBytes) fill.Bytes(s.ReceiveBytes->data(), s.ReceiveBytes->written());
  s.ReceiveBytes.reset();
  detail::SecretText& text = s.ReceiveText;
  fill.Characters(text.data(), text.size());
  text.Release();

  ReceiveBufferSize = -1;
  s.FormVars.reset();
  s.FormVarCount = 0;
  s.ServerName.clear();
  s.ObjectName.clear();
  s.BytesRead = 0;
  s.bytesReceived = 0;
  SecurityFlags = 0;
  Secure_Mode_Off = false;
  YieldWhileWaiting = false;
  StrictCertificates = false;
  s.HttpStatusCode = 0;
}

}  // namespace vizadavu
