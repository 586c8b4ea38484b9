#pragma once

// Ports that nothing on this machine uses at the moment.

#include <cstdint>

namespace testsupport {

// A port of the socket type (SOCK_STREAM or SOCK_DGRAM) that was free on every
// address a moment ago: bound and released at once.
std::uint16_t FreePort(int type);

} // namespace testsupport
