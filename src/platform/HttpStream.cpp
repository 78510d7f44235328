#include "platform/HttpStream.h"

#include <algorithm>
#include <cstring>

#include "platform/Env.h"

namespace velarix {

bool SocketStream::Write(std::string_view data, std::string* reason) {
  return socket_->SendAll(data.data(), data.size(), wait_ms_, reason);
}

int64_t SocketStream::Read(char* buffer, size_t n, std::string* reason) {
  return socket_->Receive(buffer, n, wait_ms_, reason);
}

int64_t StringStream::Read(char* buffer, size_t n, std::string* /*reason*/) {
  size_t count = std::min({n, max_read_, input_.size() - position_});
  std::memcpy(buffer, input_.data() + position_, count);
  position_ += count;
  return static_cast<int64_t>(count);
}

}  // namespace velarix
