#include "core/IEngineFactory.h"

#include "engine/CIpClient.h"
#include "engine/CIpServer.h"
#include "engine/CTcpClient.h"
#include "engine/CTcpServer.h"
#include "engine/CUdpClient.h"
#include "engine/CUdpServer.h"

namespace core {

namespace {

class CEngineObjects final : public IEngineFactory
{
public:
    std::unique_ptr<engine::CSocketList> MakeServer(int protocol, engine::IApp* sink,
                                                    const channel::PeerAddress& address) override
    {
        switch (protocol) {
        case channel::PROTOCOL_TCP: return std::make_unique<engine::CTcpServer>(sink, address);
        case channel::PROTOCOL_UDP: return std::make_unique<engine::CUdpServer>(sink, address);
        default: return std::make_unique<engine::CIpServer>(sink, address);
        }
    }
    std::shared_ptr<engine::CSocketList> MakeClient(int protocol, engine::IApp* sink,
                                                    const channel::PeerAddress& peer,
                                                    const channel::ProbeOptions& options) override
    {
        switch (protocol) {
        case channel::PROTOCOL_TCP: return std::make_shared<engine::CTcpClient>(sink, peer, options);
        case channel::PROTOCOL_UDP: return std::make_shared<engine::CUdpClient>(sink, peer, options);
        default: return std::make_shared<engine::CIpClient>(sink, peer, options);
        }
    }
};

} // namespace

IEngineFactory& IEngineFactory::Engine()
{
    static CEngineObjects objects;
    return objects;
}

} // namespace core
