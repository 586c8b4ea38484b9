#include "loop/AsyncSelect.h"

#include "loop/SocketWatchTable.h"
#include "loop/Window.h"
#include "platform/SocketHooks.h"

namespace loop {

namespace {
constexpr long kSupportedEvents =
    platform::FD_READ | platform::FD_ACCEPT | platform::FD_CLOSE | platform::FD_CONNECT;
} // namespace

int WSAAsyncSelect(platform::SOCKET s, HWND window, UINT message, long events)
{
    auto& table = detail::CSocketWatchTable::Instance();
    if (!platform::QuerySocket(s, nullptr)) {
        platform::WSASetLastError(platform::WSAENOTSOCK);
        return platform::SOCKET_ERROR;
    }
    if (events == 0) {
        // Ends the watch; the socket stays non-blocking, as in Winsock.
        table.Cancel(s);
        platform::SetSocketWatched(s, false);
        return 0;
    }
    if ((events & ~kSupportedEvents) != 0 || !IsWindow(window)) {
        platform::WSASetLastError(platform::WSAEINVAL);
        return platform::SOCKET_ERROR;
    }
    platform::u_long nonBlocking = 1;
    if (platform::ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return platform::SOCKET_ERROR;
    if (!platform::SetSocketWatched(s, true)) {
        platform::WSASetLastError(platform::WSAENOTSOCK);
        return platform::SOCKET_ERROR;
    }
    if (const int error = table.Register(s, window, message, events)) {
        platform::SetSocketWatched(s, false);
        platform::WSASetLastError(error);
        return platform::SOCKET_ERROR;
    }
    return 0;
}

} // namespace loop
