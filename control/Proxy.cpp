// The proxy a request of the built-in internet service goes through, for hosts
// that name it in a message.
#include "platform/BuiltIn.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu {

std::string EnvironmentProxy(std::string_view host, bool secureModeOff) {
  return platform::BuiltInProxy(host, secureModeOff);
}

}  // namespace vizadavu
