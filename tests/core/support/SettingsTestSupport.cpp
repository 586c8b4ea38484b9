#include "core/support/SettingsTestSupport.h"

#include <gtest/gtest.h>

namespace settingstest {

void ExpectListsMatchGroups(const core::CXmlSettings& settings)
{
    channel::PortList tcp, udp, ip;
    for (const auto& group : settings.Groups()) {
        for (const channel::PortPair& pair : group->tcpPairs) {
            tcp.push_back(pair.serverPort);
            if (pair.clientPort != 0)
                tcp.push_back(pair.clientPort);
        }
        for (const channel::PortPair& pair : group->udpPairs) {
            udp.push_back(pair.serverPort);
            udp.push_back(pair.clientPort);
        }
        for (const channel::PortPair& pair : group->ipPairs) {
            ip.push_back(pair.serverPort);
            if (pair.clientPort != 0)
                ip.push_back(pair.clientPort);
        }
    }
    EXPECT_EQ(settings.TcpPorts(), tcp);
    EXPECT_EQ(settings.UdpPorts(), udp);
    EXPECT_EQ(settings.IpPorts(), ip);
}

} // namespace settingstest
