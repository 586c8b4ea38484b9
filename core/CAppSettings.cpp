#include "CAppSettings.h"

namespace core {

CAppSettings::CAppSettings() = default;

CAppSettings::~CAppSettings() = default;

void CAppSettings::SetOptions(int timeOut, int timeSendDelay, int sendDataSize, int maxSendCount)
{
    StoreOptions(timeOut, timeSendDelay, sendDataSize, maxSendCount);
    WriteOptions(m_optionsPath);
}

bool CAppSettings::IsUdpClientPort(std::uint16_t port) const
{
    if (port == 0)
        return false;
    for (std::size_t i = 1; i < m_udpPorts.size(); i += 2) {
        if (m_udpPorts[i] == port)
            return true;
    }
    return false;
}

const channel::PortList& CAppSettings::Ports(channel::SchemeProtocol protocol) const
{
    return const_cast<CAppSettings*>(this)->MutablePorts(protocol);
}

channel::PortList& CAppSettings::MutablePorts(channel::SchemeProtocol protocol)
{
    return protocol == channel::SchemeProtocol::Tcp   ? m_tcpPorts
           : protocol == channel::SchemeProtocol::Udp ? m_udpPorts
                                                      : m_ipPorts;
}

void CAppSettings::StoreOptions(int timeOut, int timeSendDelay, int sendDataSize, int maxSendCount)
{
    m_timeOut = timeOut;
    m_timeSendDelay = timeSendDelay;
    m_sendDataSize = sendDataSize;
    m_maxSendCount = maxSendCount;
}

void CAppSettings::StoreDefaultOptions()
{
    StoreOptions(DefaultTimeOut, DefaultTimeSendDelay, DefaultSendDataSize, DefaultMaxSendCount);
}

void CAppSettings::ClearPortLists()
{
    m_tcpPorts.clear();
    m_udpPorts.clear();
    m_ipPorts.clear();
}

void CAppSettings::AppendPortsOf(const channel::SchemeGroup& group)
{
    for (channel::SchemeProtocol protocol : channel::AllSchemeProtocols) {
        channel::PortList& ports = MutablePorts(protocol);
        for (const channel::PortPair& pair : group.Pairs(protocol)) {
            ports.push_back(pair.serverPort);
            // UDP entries are read two by two: the pair keeps both places.
            if (pair.clientPort != 0 || protocol == channel::SchemeProtocol::Udp)
                ports.push_back(pair.clientPort);
        }
    }
}

} // namespace core
