#pragma once

// The window system's value types, as the rest of the program uses them.

#include <cstdint>

namespace loop {

// An opaque handle of a window receiver (CWindow). Handles are never reused, so
// a handle kept by another thread after its window went away stays harmless:
// posting to it fails.
struct HWND__;
using HWND = HWND__*;

using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using UINT_PTR = std::uintptr_t;

// Application messages start here; the program's own are 0x8001 to 0x8016.
inline constexpr UINT WM_APP = 0x8000;

} // namespace loop
