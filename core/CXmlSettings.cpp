#include "CXmlSettings.h"

#include "markuptree/MarkupTree.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <new>

namespace core {

namespace {

const xml::element kGroup(L"Group");
const xml::element kProto(L"Proto");
const xml::element kPort(L"Port");
const xml::attribute kSenderName(L"senderName");
const xml::attribute kReceiverName(L"receiverName");
const xml::attribute kName(L"name");
const xml::attribute kSrvPort(L"srvPort");
const xml::attribute kClPort(L"clPort");

const xml::element kTimeOut(L"TimeOut");
const xml::element kTimeSendDelay(L"TimeSendDelay");
const xml::element kMaxSendCount(L"MaxSendCount");
const xml::element kSendDataSize(L"SendDataSize");

// A damaged part of a scheme is skipped; what was wrong goes to the Debug stream.
void ReportSkipped(const EGeneric& error)
{
    if (!Debug.GetEnabled())
        return;
    TDebugStreamSession session(Debug);
    session << error.what() << "\n";
}

// Reads the ports of one Proto element into pairs. A Port without srvPort is
// skipped; a number that is not an integer throws (the Proto's guard catches it,
// the pairs read before it stay).
void ReadPorts(const xml::pnode& proto, std::vector<channel::PortPair>& pairs)
{
    xml::pnodelist ports = proto.get_nodelist(kPort);
    for (xml::pnode port = ports.nextnode(); port.valid(); port = ports.nextnode()) {
        if (!port.exist_attribute(kSrvPort))
            continue;
        int serverPort = 0;
        port[kSrvPort].get_value(serverPort);
        int clientPort = 0;
        if (port.exist_attribute(kClPort))
            port[kClPort].get_value(clientPort);
        // Numbers beyond 16 bits keep their low 16 bits.
        pairs.push_back({static_cast<std::uint16_t>(serverPort & 0xFFFF),
                         static_cast<std::uint16_t>(clientPort & 0xFFFF)});
    }
}

std::unique_ptr<channel::SchemeGroup> ReadGroup(const xml::pnode& groupNode)
{
    auto group = std::make_unique<channel::SchemeGroup>();
    groupNode[kSenderName].get_value(group->senderName);
    groupNode[kReceiverName].get_value(group->receiverName);
    xml::pnodelist protos = groupNode.get_nodelist(kProto);
    for (xml::pnode proto = protos.nextnode(); proto.valid(); proto = protos.nextnode()) {
        try {
            std::wstring name;
            proto[kName].get_value(name);
            channel::SchemeProtocol protocol;
            if (!channel::SchemeProtocolFromName(name, protocol))
                continue;
            // Duplicate Proto elements of one name add to the same list.
            ReadPorts(proto, group->Pairs(protocol));
        } catch (const EGeneric& error) {
            ReportSkipped(error);
        }
    }
    return group;
}

} // namespace

CXmlSettings::CXmlSettings() = default;

CXmlSettings::~CXmlSettings()
{
    ClearGroups();
}

void CXmlSettings::ReadScheme(std::string path)
{
    SetSchemePath(std::string());
    ClearGroups();
    ClearPortLists();
    try {
        xml::pdocument document;
        document.load_xml(path);
        xml::pnodelist groups = document.get_root().get_nodelist(kGroup);
        for (xml::pnode node = groups.nextnode(); node.valid(); node = groups.nextnode()) {
            try {
                std::unique_ptr<channel::SchemeGroup> group = ReadGroup(node);
                // The lists grow with the groups, so that an exception that
                // leaves part-way leaves lists that match the groups read so far.
                m_groups.push_back(std::move(group));
                AppendPortsOf(*m_groups.back());
            } catch (const EGeneric& error) {
                ReportSkipped(error); // the group is dropped
            }
        }
    } catch (const std::bad_alloc&) {
        EGeneric error(false);
        error.put_value("Text",
                        "Недостаточно памяти, чтобы прочитать схему из файла \"" + path + "\"");
        error.put_value("File", path);
        throw error;
    }
    SetSchemePath(std::move(path));
}

void CXmlSettings::ReadOptions(const std::string& path)
{
    try {
        xml::pdocument document;
        document.load_xml(path);
        const xml::pnode root = document.get_root();
        int timeOut = 0;
        int timeSendDelay = 0;
        int maxSendCount = 0;
        int sendDataSize = 0;
        root[kTimeOut].get_value(timeOut);
        root[kTimeSendDelay].get_value(timeSendDelay);
        root[kMaxSendCount].get_value(maxSendCount);
        root[kSendDataSize].get_value(sendDataSize);
        StoreOptions(timeOut, timeSendDelay, sendDataSize, maxSendCount);
        SetOptionsPath(path);
    } catch (const EGeneric& error) {
        StoreDefaultOptions();
        throw EGeneric(error);
    }
}

bool CXmlSettings::WriteScheme(const std::string& path)
{
    xml::pdocument document;
    document.put_xml(std::string(EmptySchemeText));
    const xml::pnode root = document.get_root();
    for (const auto& group : m_groups) {
        const xml::pnode groupNode = root.append(kGroup);
        groupNode.append(kSenderName).put_value(group->senderName);
        groupNode.append(kReceiverName).put_value(group->receiverName);
        for (channel::SchemeProtocol protocol : channel::AllSchemeProtocols) {
            const xml::pnode proto = groupNode.append(kProto);
            proto.append(kName).put_value(channel::SchemeProtocolName(protocol));
            for (const channel::PortPair& pair : group->Pairs(protocol)) {
                const xml::pnode port = proto.append(kPort);
                port.append(kSrvPort).put_value(static_cast<int>(pair.serverPort));
                port.append(kClPort).put_value(static_cast<int>(pair.clientPort));
            }
        }
    }
    if (root.children().length() > 0)
        document.normalize_text();
    const bool saved = document.save_xml(path);
    SetSchemePath(path);
    return saved;
}

void CXmlSettings::WriteOptions(const std::string& path)
{
    xml::pdocument document;
    document.put_xml(std::string(EmptyOptionsText));
    const xml::pnode root = document.get_root();
    root.append(kTimeOut).put_value(TimeOut());
    root.append(kTimeSendDelay).put_value(TimeSendDelay());
    root.append(kMaxSendCount).put_value(MaxSendCount());
    root.append(kSendDataSize).put_value(SendDataSize());
    document.normalize_text();
    // A failed save is not the caller's business: the values stay in force for
    // this run, and the Error stream says why they will not be there next time.
    if (!document.save_xml(path) && Error.GetEnabled())
        TDebugStreamSession(Error) << "Не удалось записать настройки в файл \"" << path << "\"\n";
}

void CXmlSettings::SetGroups(const std::vector<const channel::SchemeGroup*>& groups)
{
    // Copies first: the given groups may be this object's own.
    GroupList copies;
    copies.reserve(groups.size());
    for (const channel::SchemeGroup* group : groups) {
        if (group)
            copies.push_back(std::make_unique<channel::SchemeGroup>(*group));
    }
    ReplaceGroups(std::move(copies));
}

void CXmlSettings::SetGroups(const std::vector<channel::SchemeGroup>& groups)
{
    GroupList copies;
    copies.reserve(groups.size());
    for (const channel::SchemeGroup& group : groups)
        copies.push_back(std::make_unique<channel::SchemeGroup>(group));
    ReplaceGroups(std::move(copies));
}

void CXmlSettings::ReplaceGroups(GroupList copies)
{
    ClearGroups();
    m_groups = std::move(copies);
    ClearPortLists();
    for (const auto& group : m_groups)
        AppendPortsOf(*group);
}

void CXmlSettings::ClearGroups()
{
    while (!m_groups.empty())
        m_groups.pop_back(); // last first
}

} // namespace core
