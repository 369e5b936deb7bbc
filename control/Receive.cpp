// The host's views of the reply, and Clear.
#include <stdexcept>
#include <string>

#include "control/Random.h"
#include "control/State.h"
#include "platform/CodePage.h"

namespace vizadavu {

Text vizADAVU::ReceiveBuffer() const {
  return Text(state_->ReceiveText.view());
}

Long vizADAVU::ReceiveBufferArraySize() const {
  return state_->BytesRead - 1;
}

Byte vizADAVU::ReceiveBufferB(Long ByteNum) const {
  const auto& bytes = state_->ReceiveBytes;
  if (!bytes) throw std::out_of_range("ReceiveBufferB: there is no byte buffer");
  if (ByteNum < 0 || static_cast<std::size_t>(ByteNum) >= bytes->size()) {
    throw std::out_of_range("ReceiveBufferB: index " + std::to_string(ByteNum) + " is outside 0.." +
                            std::to_string(bytes->size() - 1));
  }
  return bytes->data()[ByteNum];
}

Text vizADAVU::StringB() const {
  const Long count = state_->BytesRead;
  Text text;
  if (count <= 0) return text;
  const auto& bytes = state_->ReceiveBytes;
  if (!bytes || static_cast<std::size_t>(count) > bytes->size()) {
    throw std::out_of_range("StringB: the byte buffer does not hold the bytes read");
  }
  platform::AppendAnsiAsText(text, bytes->data(), static_cast<std::size_t>(count));
  return text;
}

void vizADAVU::Clear() {
  State& s = *state_;
  if (s.transferRunning) throw std::logic_error("Clear: a transfer is running on this control");

  // Single-read mode: overwrite every byte of the buffer with r x 255 rounded
  // half to even. With no buffer there is nothing to overwrite.
  if (ReceiveBufferSize >= 0 && s.ReceiveBytes) {
    detail::SecretBytes& bytes = *s.ReceiveBytes;
    bytes.NoteWritten(bytes.size());
    detail::FillRandom(s, bytes.data(), bytes.size(), [](double r) {
      return static_cast<Byte>(detail::RoundHalfEven(r * 255.0));
    });
  }
  s.ReceiveBytes.reset();

  // The reply text's own storage gets random characters of codes 0..254 in
  // place, then is emptied and released.
  detail::SecretText& text = s.ReceiveText;
  detail::FillRandom(s, text.data(), text.size(), [](double r) {
    return platform::AnsiToChar(static_cast<std::uint8_t>(r * 255.0));
  });
  text.Release();

  ReceiveBufferSize = -1;
  s.FormVars.reset();
  s.FormVarCount = 0;
  s.ServerName.clear();
  s.ObjectName.clear();
  s.BytesRead = 0;
  SecurityFlags = 0;
  Secure_Mode_Off = false;
}

}  // namespace vizadavu
