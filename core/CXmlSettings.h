#pragma once

#include "CAppSettings.h"
#include "channel/SchemeGroup.h"

#include <memory>
#include <string>
#include <vector>

namespace core {

// The scheme and the options kept in two UTF-8 XML files.
//
// Scheme file (root Chanels):
//   <Group senderName=".." receiverName="..">
//     <Proto name="TCP|UDP|IP"> <Port srvPort="n" clPort="n"/> ... </Proto> ...
//   </Group> ...
// Options file (root Options): the elements TimeOut, TimeSendDelay,
// MaxSendCount and SendDataSize, each holding a decimal integer.
//
// Threads: the main window's thread only (see CAppSettings).
class CXmlSettings final : public CAppSettings
{
public:
    using GroupList = std::vector<std::unique_ptr<channel::SchemeGroup>>;

    // Every scheme and every options file is written starting from these texts.
    static constexpr const char* EmptySchemeText =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels></Chanels>\n";
    static constexpr const char* EmptyOptionsText =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options></Options>\n";

    CXmlSettings();
    ~CXmlSettings() override;

    // Replaces the scheme by the file's. The scheme path is "" while reading and
    // becomes path at the end. A damaged Group (no senderName or receiverName)
    // is dropped and a damaged Proto (no name, a port that is not a number)
    // keeps the ports read before the damage; either way the rest loads, and
    // the message goes to the Debug stream. A Proto named anything but exactly
    // "TCP", "UDP" or "IP" is skipped; a Port without srvPort is skipped; a
    // missing clPort is 0; numbers keep their low 16 bits. An EGeneric that
    // leaves (the file unreadable or not XML) leaves the scheme path "" and
    // the groups read so far, with their ports.
    void ReadScheme(std::string path) override;

    // Reads the four options and makes path the options path. On any failure
    // (unreadable, not XML, an element missing or not an integer) stores the
    // defaults 200, 1, 10, 5, keeps the options path, and throws a copy of the
    // EGeneric on. Values are taken as they are, without range checks.
    void ReadOptions(const std::string& path) override;

    // Writes every group with a Proto element for each of TCP, UDP and IP (also
    // when empty) and both ports of every pair; an empty scheme is written as
    // EmptySchemeText exactly. The scheme path becomes path in any case. Returns
    // whether the file was written.
    bool WriteScheme(const std::string& path) override;

    // Writes the four options to path; the options path is not changed. A file
    // that cannot be written is a line on the Error stream, not an exception.
    void WriteOptions(const std::string& path) override;

    // Replaces the groups by deep copies of the given ones (null entries are
    // skipped; the given groups stay with their owner, and may even be this
    // object's own) and rebuilds the port lists from them.
    void SetGroups(const std::vector<const channel::SchemeGroup*>& groups);
    void SetGroups(const std::vector<channel::SchemeGroup>& groups);
    // Deletes every group, last first, and empties the group list. The port
    // lists are left as they are (ReadScheme and SetGroups rebuild them).
    void ClearGroups();

    const GroupList& Groups() const { return m_groups; }

private:
    void ReplaceGroups(GroupList copies);

    GroupList m_groups;
};

} // namespace core
