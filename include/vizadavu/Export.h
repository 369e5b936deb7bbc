// Which declarations the shared library exports. The library is built with
// hidden visibility; VIZADAVU_EXPORT marks the public API, VIZADAVU_NO_EXPORT a
// member of an exported class that stays internal.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define VIZADAVU_EXPORT __attribute__((visibility("default")))
#define VIZADAVU_NO_EXPORT __attribute__((visibility("hidden")))
#else
#define VIZADAVU_EXPORT
#define VIZADAVU_NO_EXPORT
#endif
