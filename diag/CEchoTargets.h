#pragma once

// The targets of an echo or route engine, by index in the order given: each
// with its address (the text as channel::ParseAddress reads it, 0xFFFFFFFF for
// text that is not an address) and an echo handle owned for the engine's life. A duplicated
// address is probed twice; looking it up gives its first occurrence.
//
// Threads: built and destroyed on the engine's controlling thread; the lookups
// may be called from any thread (the list never changes after construction).

#include "channel/PeerAddress.h"
#include "diag/EchoTargetBase.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace diag {

template <class Target>
class CEchoTargets
{
public:
    CEchoTargets(const std::vector<std::string>& addresses, std::uint16_t size)
    {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            m_indexes.emplace(addresses[i], static_cast<int>(i)); // the first occurrence stays
            auto target = std::make_unique<Target>();
            target->Address = AddressOfTarget(addresses[i]);
            target->Handle = platform::IcmpCreateFile();
            target->FitBuffers(size);
            m_targets.push_back(std::move(target));
        }
    }
    ~CEchoTargets()
    {
        for (auto& target : m_targets) {
            if (target->Handle != platform::INVALID_HANDLE_VALUE)
                platform::IcmpCloseHandle(target->Handle);
        }
    }
    CEchoTargets(const CEchoTargets&) = delete;
    CEchoTargets& operator=(const CEchoTargets&) = delete;

    int Count() const { return static_cast<int>(m_targets.size()); }
    bool Valid(int index) const { return index >= 0 && index < Count(); }
    Target& operator[](int index) { return *m_targets[static_cast<std::size_t>(index)]; }
    const Target& operator[](int index) const
    {
        return *m_targets[static_cast<std::size_t>(index)];
    }
    // The first target with that address; 0 for one that is not a target.
    int IndexOf(const std::string& address) const
    {
        const auto it = m_indexes.find(address);
        return it == m_indexes.end() ? 0 : it->second;
    }
    // The program's one reading of an address text; 0xFFFFFFFF (what inet_addr
    // gives) for text that is not an address.
    static std::uint32_t AddressOfTarget(const std::string& text)
    {
        channel::PeerAddress record;
        return channel::ParseAddress(record, text.c_str()) ? record.address : 0xFFFFFFFFu;
    }
    // The target's address; 0xFFFFFFFF past the end.
    std::uint32_t AddressOf(int index) const
    {
        return Valid(index) ? (*this)[index].Address : 0xFFFFFFFFu;
    }

private:
    std::vector<std::unique_ptr<Target>> m_targets;
    std::map<std::string, int> m_indexes; // address text -> first target with it
};

} // namespace diag
