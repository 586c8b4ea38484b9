#pragma once

#include "channel/SchemeGroup.h"

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// The scheme's port lists, the two file paths and the four probe options, held
// in memory. How the files are read and written is left to the derived class
// (CXmlSettings).
//
// The port lists are derived from the groups: for every group in order and
// every pair of that protocol in order, the server port, then the client port.
// For TCP and IP the client port is added only when it is not 0. The UDP list
// is read by its consumers as (server port, client port) pairs, so a UDP pair
// always adds both entries, 0 standing for "no client port"; a missing client
// port can therefore never shift the pairs that follow it.
//
// Threads: the main window's thread only. The engine receives copies of the
// lists and options when it starts and never reads this object from its own
// threads.
class CAppSettings
{
public:
    // The options written when there is no options file or it is damaged.
    static constexpr int DefaultTimeOut = 200;     // milliseconds
    static constexpr int DefaultTimeSendDelay = 1; // seconds
    static constexpr int DefaultSendDataSize = 10; // bytes
    static constexpr int DefaultMaxSendCount = 5;  // attempts

    CAppSettings();
    CAppSettings(const CAppSettings&) = delete;
    CAppSettings& operator=(const CAppSettings&) = delete;

    // The file operations, in this slot order (then the destructor). Failures
    // are EGeneric exceptions, as each implementation describes.
    virtual void ReadScheme(std::string path) = 0;
    virtual void ReadOptions(const std::string& path) = 0;
    virtual bool WriteScheme(const std::string& path) = 0;
    virtual void WriteOptions(const std::string& path) = 0;
    virtual ~CAppSettings();

    // Stores the four options and writes them with WriteOptions to the current
    // options path (the values stay stored when the file cannot be written).
    void SetOptions(int timeOut, int timeSendDelay, int sendDataSize, int maxSendCount);

    // True when the port is the client port of a UDP pair: it equals an entry
    // at an odd position (1, 3, 5, ...) of the UDP list. Port 0 ("none") never is.
    bool IsUdpClientPort(std::uint16_t port) const;

    const channel::PortList& TcpPorts() const { return m_tcpPorts; }
    const channel::PortList& UdpPorts() const { return m_udpPorts; }
    const channel::PortList& IpPorts() const { return m_ipPorts; }
    const channel::PortList& Ports(channel::SchemeProtocol protocol) const;

    // "settings.xml" at construction; "" when no scheme file is open.
    const std::string& SchemePath() const { return m_schemePath; }
    void SetSchemePath(std::string path) { m_schemePath = std::move(path); }
    // "options.xml" at construction; normally the per-user path (OptionsLocation.h).
    const std::string& OptionsPath() const { return m_optionsPath; }
    void SetOptionsPath(std::string path) { m_optionsPath = std::move(path); }

    int TimeOut() const { return m_timeOut; }             // milliseconds, wait for a reply
    int TimeSendDelay() const { return m_timeSendDelay; } // seconds between attempts
    int SendDataSize() const { return m_sendDataSize; }   // bytes of one probe
    int MaxSendCount() const { return m_maxSendCount; }   // attempts per port

protected:
    // Stores the four options without writing them.
    void StoreOptions(int timeOut, int timeSendDelay, int sendDataSize, int maxSendCount);
    void StoreDefaultOptions();

    void ClearPortLists();
    // Appends the ports of every pair of the group to the lists, by the rule above.
    void AppendPortsOf(const channel::SchemeGroup& group);

private:
    channel::PortList& MutablePorts(channel::SchemeProtocol protocol);

    channel::PortList m_tcpPorts;
    channel::PortList m_udpPorts;
    channel::PortList m_ipPorts;
    std::string m_schemePath = "settings.xml";
    std::string m_optionsPath = "options.xml";
    int m_timeOut = 0;
    int m_timeSendDelay = 0;
    int m_sendDataSize = 1;
    int m_maxSendCount = 1;
};

} // namespace core
