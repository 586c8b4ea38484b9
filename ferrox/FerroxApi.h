#pragma once

// libferrox.so is built with hidden visibility: only what is marked FERROX_API
// leaves it, so the library's exported surface stays deliberate.
#define FERROX_API __attribute__((visibility("default")))
