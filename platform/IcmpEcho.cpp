#include "platform/IcmpEcho.h"

#include "platform/IcmpEndpoint.h"
#include "platform/SocketErrors.h"

#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

using detail::CIcmpEndpoint;

// Open handles. A handle is a number that is never reused, so a stale handle
// (closed, or never ours) is recognised instead of touching freed memory; each
// call holds its own reference, so closing a handle during a call is safe.
class CHandleTable
{
public:
    HANDLE Add(std::shared_ptr<CIcmpEndpoint> endpoint)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_next += 4;
        m_open.emplace(m_next, std::move(endpoint));
        return reinterpret_cast<HANDLE>(m_next);
    }
    std::shared_ptr<CIcmpEndpoint> Find(HANDLE handle)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_open.find(reinterpret_cast<std::uintptr_t>(handle));
        return it == m_open.end() ? nullptr : it->second;
    }
    std::shared_ptr<CIcmpEndpoint> Remove(HANDLE handle)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_open.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == m_open.end())
            return nullptr;
        auto endpoint = std::move(it->second);
        m_open.erase(it);
        return endpoint;
    }

private:
    std::mutex m_lock;
    std::uintptr_t m_next = 0x1000;
    std::unordered_map<std::uintptr_t, std::shared_ptr<CIcmpEndpoint>> m_open;
};

CHandleTable& Handles()
{
    static CHandleTable* table = new CHandleTable; // outlives every static user
    return *table;
}

// IcmpGetLastRoundTripMicroseconds: each thread's own, as its last error.
thread_local std::uint32_t t_lastRoundTripUs = 0;

DWORD Fail(ULONG error)
{
    WSASetLastError(static_cast<int>(error));
    return 0;
}

} // namespace

HANDLE IcmpCreateFile()
{
    int error = 0;
    auto endpoint = CIcmpEndpoint::Open(&error);
    if (!endpoint) {
        WSASetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return Handles().Add(std::move(endpoint));
}

BOOL IcmpCloseHandle(HANDLE icmpHandle)
{
    // The socket closes when the last call that still uses it returns.
    if (!Handles().Remove(icmpHandle)) {
        WSASetLastError(static_cast<int>(ERROR_INVALID_HANDLE));
        return 0;
    }
    return 1;
}

DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr destinationAddress, const void* requestData,
                   WORD requestSize, const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                   DWORD replySize, DWORD timeout)
{
    return IcmpSendEcho2Ex(icmpHandle, nullptr, nullptr, nullptr, 0, destinationAddress,
                           requestData, requestSize, requestOptions, replyBuffer, replySize,
                           timeout);
}

DWORD IcmpSendEcho2Ex(HANDLE icmpHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, void* apcContext,
                      IPAddr sourceAddress, IPAddr destinationAddress, const void* requestData,
                      WORD requestSize, const IP_OPTION_INFORMATION* requestOptions,
                      void* replyBuffer, DWORD replySize, DWORD timeout)
{
    (void)apcContext;
    t_lastRoundTripUs = 0;
    auto endpoint = Handles().Find(icmpHandle);
    if (!endpoint)
        return Fail(ERROR_INVALID_HANDLE);
    if (event || apcRoutine)
        return Fail(ERROR_NOT_SUPPORTED);
    if (!replyBuffer || (requestSize != 0 && !requestData))
        return Fail(ERROR_INVALID_PARAMETER);
    if (replySize < sizeof(ICMP_ECHO_REPLY))
        return Fail(IP_BUF_TOO_SMALL);
    if (requestOptions && requestOptions->OptionsSize > 40) {
        WriteEchoFailure(IP_OPTION_TOO_BIG, replyBuffer, replySize);
        return Fail(IP_OPTION_TOO_BIG);
    }
    return endpoint->Echo(
        sourceAddress, destinationAddress,
        std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(requestData), requestSize),
        requestOptions, replyBuffer, replySize, timeout, &t_lastRoundTripUs);
}

std::uint32_t IcmpGetLastRoundTripMicroseconds()
{
    return t_lastRoundTripUs;
}

EchoSocketKind IcmpGetSocketKind(HANDLE icmpHandle)
{
    auto endpoint = Handles().Find(icmpHandle);
    return endpoint ? endpoint->Kind() : EchoSocketKind::None;
}

} // namespace platform
