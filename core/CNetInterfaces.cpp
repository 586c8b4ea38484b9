#include "CNetInterfaces.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/strings/Strings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <new>

namespace core {

namespace {

// Frees the getifaddrs list on every path out.
class IfAddrsList
{
public:
    IfAddrsList() = default;
    IfAddrsList(const IfAddrsList&) = delete;
    IfAddrsList& operator=(const IfAddrsList&) = delete;
    ~IfAddrsList()
    {
        if (m_list)
            ::freeifaddrs(m_list);
    }
    ifaddrs** Out() { return &m_list; }
    const ifaddrs* Get() const { return m_list; }

private:
    ifaddrs* m_list = nullptr;
};

// The interface of an address: "eth0:1" is a label of eth0.
unsigned IndexOfInterface(const char* name)
{
    std::string base(name);
    if (const auto colon = base.find(':'); colon != std::string::npos)
        base.resize(colon);
    return ::if_nametoindex(base.c_str());
}

void WriteError(const std::wstring& text)
{
    if (!Error.GetEnabled())
        return;
    TDebugStreamSession session(Error);
    session << text;
}

channel::PeerAddress AnyAddress()
{
    return channel::PeerAddress{}; // 0.0.0.0, empty text
}

} // namespace

int CSystemInterfaceSource::QueryAddresses(std::vector<InterfaceAddress>& addresses)
{
    IfAddrsList list;
    if (::getifaddrs(list.Out()) != 0)
        return errno != 0 ? errno : EIO;
    try {
        for (const ifaddrs* entry = list.Get(); entry; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr)
                continue;
            InterfaceAddress item;
            item.name = entry->ifa_name;
            item.index = IndexOfInterface(entry->ifa_name);
            item.flags = entry->ifa_flags;
            item.family = entry->ifa_addr->sa_family;
            if (item.family == AF_INET)
                item.address =
                    reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
            addresses.push_back(std::move(item));
        }
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    return 0;
}

CNetInterfaces::CNetInterfaces()
{
    CSystemInterfaceSource source;
    Collect(source);
}

CNetInterfaces::CNetInterfaces(IInterfaceSource& source)
{
    Collect(source);
}

CNetInterfaces::~CNetInterfaces() = default;

void CNetInterfaces::Collect(IInterfaceSource& source)
{
    m_serverAddresses.push_back(AnyAddress());

    std::vector<InterfaceAddress> all;
    int error = 0;
    try {
        error = source.QueryAddresses(all);
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }
    if (error == ENOMEM) {
        WriteError(L"Не удалось выделить память для вызова GetAdaptersinfo\n");
        return;
    }

    std::vector<InterfaceAddress> chosen;
    if (error == 0) {
        for (InterfaceAddress& item : all) {
            if (item.family == AF_INET && (item.flags & IFF_UP) && !(item.flags & IFF_LOOPBACK))
                chosen.push_back(std::move(item));
        }
        // Interface-index order, listing order within an interface; an
        // interface whose index is unknown (it went away meanwhile) goes last.
        std::stable_sort(chosen.begin(), chosen.end(),
                         [](const InterfaceAddress& a, const InterfaceAddress& b) {
                             const unsigned ka = a.index ? a.index : ~0u;
                             const unsigned kb = b.index ? b.index : ~0u;
                             return ka < kb;
                         });
        if (chosen.empty())
            error = NoAdaptersError;
    }
    if (error != 0) {
        WriteError(format_wstring(L"GetAdaptersInfo завершилась с кодом ошибки: %d\n", error));
        m_adapterAddresses.push_back(AnyAddress());
        return;
    }

    for (const InterfaceAddress& item : chosen) {
        char text[INET_ADDRSTRLEN] = {};
        in_addr raw{};
        raw.s_addr = item.address;
        ::inet_ntop(AF_INET, &raw, text, sizeof text);
        channel::PeerAddress record;
        channel::ParseAddress(record, text); // kept whatever the result, as the system listed it
        m_adapterAddresses.push_back(record);
    }
}

} // namespace core
