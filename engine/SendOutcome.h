#pragma once

// The event of one send call, for every protocol object.

#include "channel/EventCodes.h"
#include "platform/ErrorTexts.h"
#include "platform/Sockets.h"

namespace engine {

struct SendOutcome
{
    int code = channel::EC_SENT;
    int error = 0;
};

// What a send call that was to write `wanted` bytes and returned `sent` reports:
// 10 "Данные отправлены" only when every byte went. A failed call is 8 with the
// socket error; a short one is 8 as well (what did not go is lost: a slow reader
// on a stream, say), with a detail that says how many bytes went, since it has
// no error of its own. Call it right after the send, before anything can change
// the thread's last error.
inline SendOutcome OutcomeOfSend(int sent, int wanted)
{
    if (sent == wanted)
        return {};
    if (sent == platform::SOCKET_ERROR)
        return {channel::EC_SEND_FAILED, platform::WSAGetLastError()};
    return {channel::EC_SEND_FAILED, static_cast<int>(platform::ShortSendDetail(sent, wanted))};
}

} // namespace engine
