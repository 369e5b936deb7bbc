// A test allocator for the test program: the global operator new, which can be
// told to throw std::bad_alloc once, on the next allocation of this thread.
#pragma once

namespace vizadavu::test {

// Arms (or, with false, disarms) the failure of the next operator new.
void FailNextNew(bool fail = true) noexcept;

}  // namespace vizadavu::test
