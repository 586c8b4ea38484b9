#pragma once

#include "channel/PeerAddress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// One address of one network interface, as the system lists it.
struct InterfaceAddress
{
    std::string name;          // as listed; IPv4 labels such as "eth0:1" included
    unsigned index = 0;        // interface index (of the labelled address's interface); 0: unknown
    unsigned flags = 0;        // IFF_* flags of the interface
    int family = 0;            // AF_INET, AF_INET6, AF_PACKET, ...
    std::uint32_t address = 0; // AF_INET only: the address in network byte order
};

// Where CNetInterfaces learns the machine's addresses: the system by default,
// a prepared list in tests.
class IInterfaceSource
{
public:
    virtual ~IInterfaceSource() = default;
    // Fills addresses in the order the system lists them. Returns 0; ENOMEM
    // when memory for the list could not be had; any other non-zero value is
    // the error code of a failed query.
    virtual int QueryAddresses(std::vector<InterfaceAddress>& addresses) = 0;
};

// The system's list through getifaddrs(3).
class CSystemInterfaceSource final : public IInterfaceSource
{
public:
    int QueryAddresses(std::vector<InterfaceAddress>& addresses) override;
};

// The machine's IPv4 adapter addresses, collected once at construction, and the
// local addresses the servers listen on.
//
// Adapter addresses: every IPv4 address of every interface that is up and not
// the loopback, grouped by interface in interface-index order and, within an
// interface, in the order the system lists them (labelled addresses such as
// eth0:1 belong to their interface). When there is none, or the query fails,
// the line "GetAdaptersInfo завершилась с кодом ошибки: %d\n" goes to the
// Error stream (code 232, "no data", when there is none) and the list holds one
// entry 0.0.0.0 with empty text. When memory for the query cannot be had, the
// line "Не удалось выделить память для вызова GetAdaptersinfo\n" goes there
// and the list stays empty.
//
// Server addresses: exactly one entry, the any-address 0.0.0.0 with empty text.
//
// Threads: built and read on one thread; the lists do not change after
// construction.
class CNetInterfaces
{
public:
    // The code reported when the machine has no adapter address (ERROR_NO_DATA).
    static constexpr int NoAdaptersError = 232;

    CNetInterfaces();
    explicit CNetInterfaces(IInterfaceSource& source);
    CNetInterfaces(const CNetInterfaces&) = delete;
    CNetInterfaces& operator=(const CNetInterfaces&) = delete;
    virtual ~CNetInterfaces();

    const std::vector<channel::PeerAddress>& AdapterAddresses() const { return m_adapterAddresses; }
    const std::vector<channel::PeerAddress>& ServerAddresses() const { return m_serverAddresses; }

private:
    void Collect(IInterfaceSource& source);

    std::vector<channel::PeerAddress> m_adapterAddresses;
    std::vector<channel::PeerAddress> m_serverAddresses;
};

} // namespace core
