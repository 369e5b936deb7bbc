// The host's read-only views of the reply: its text, its bytes and their counts.
#include <stdexcept>
#include <string>

#include "control/State.h"
#include "platform/CodePage.h"

namespace vizadavu {

Text vizADAVU::ReceiveBuffer() const {
  return Text(state_->ReceiveText.view());
}

std::u16string_view vizADAVU::ReceiveBufferView() const noexcept {
  return state_->ReceiveText.view();
}

vizADAVU::ByteView vizADAVU::StringBView() const noexcept {
  const Long count = state_->BytesRead;
  const auto& bytes = state_->ReceiveBytes;
  if (count <= 0 || !bytes || static_cast<std::size_t>(count) > bytes->size()) return {};
  return {bytes->data(), static_cast<std::size_t>(count)};
}

std::uint64_t vizADAVU::BytesReceived() const noexcept {
  return state_->bytesReceived;
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

}  // namespace vizadavu
