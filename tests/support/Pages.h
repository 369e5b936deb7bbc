// How much of a range of memory is resident, for the tests of what Clear touches.
#pragma once

#include <cstddef>
#include <optional>

namespace vizadavu::test {

std::size_t PageSize();
// The resident pages among those `size` bytes at `data` touch; nullopt when the
// system cannot tell.
std::optional<std::size_t> ResidentPages(const void* data, std::size_t size);

}  // namespace vizadavu::test
