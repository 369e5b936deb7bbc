// Which declarations the shared library exports. VIZADAVU_EXPORT marks the
// public API, VIZADAVU_NO_EXPORT a member of an exported class that stays
// internal. On Windows the DLL's own objects are compiled with
// VIZADAVU_BUILDING_DLL (dllexport) and a program using the DLL defines
// VIZADAVU_DLL (dllimport; the CMake package and the .pc file do); a static
// library needs neither. Elsewhere the library is built with hidden visibility.
#pragma once

#if defined(_WIN32)
#if defined(VIZADAVU_BUILDING_DLL)
#define VIZADAVU_EXPORT __declspec(dllexport)
#elif defined(VIZADAVU_DLL)
#define VIZADAVU_EXPORT __declspec(dllimport)
#else
#define VIZADAVU_EXPORT
#endif
#define VIZADAVU_NO_EXPORT
#elif defined(__GNUC__) || defined(__clang__)
#define VIZADAVU_EXPORT __attribute__((visibility("default")))
#define VIZADAVU_NO_EXPORT __attribute__((visibility("hidden")))
#else
#define VIZADAVU_EXPORT
#define VIZADAVU_NO_EXPORT
#endif
