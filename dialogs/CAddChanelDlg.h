#pragma once

// "Канал связи": enters a new channel or changes one, and checks it.
//
// Use: construct, give it the scheme's names (AddSenderName, AddReceiverName),
// preset it with SetEntry for an edit, exec(); on QDialog::Accepted, Entry()
// holds the channel.
//
// The protocol list is "TCP", "UDP", "IP". The two name boxes are editable
// combo boxes listing the scheme's senders and receivers (each list in UTF-16
// code-unit order, without duplicates). A new name keeps at most MaxNameLength
// characters: the field refuses the character past the limit, cuts a longer
// paste at the limit, and a hint says so (and shows what will be stored should
// the field ever hold more). A name the list already holds is stored whole, so
// editing a channel never renames its nodes. The port fields take digits only,
// at most MaxPortDigits of them.
//
// "Применить" checks, in this order, and shows the first failure's message in
// an OK-only box through the prompt, the dialog staying open: a protocol is
// chosen; a sender is given; a receiver is given; the sender port is within
// 1-65535; the receiver port is; TCP and IP ports differ; UDP ports are equal.
// An empty (or blank) name counts as not given.
//
// Threads: the GUI thread only.

#include "dialogs/ChannelEntry.h"

#include <QDialog>

#include <map>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dialogs {

class IPrompt;

class CAddChanelDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MaxNameLength = 9;
    static constexpr int MaxPortDigits = 5;

    // prompt: where the check messages go; null shows real message boxes over
    // this dialog.
    explicit CAddChanelDlg(IPrompt* prompt = nullptr, QWidget* parent = nullptr);
    ~CAddChanelDlg() override;

    // Adds a name to its list unless the list has it already.
    void AddSenderName(const std::wstring& name);
    void AddReceiverName(const std::wstring& name);
    // Presets the dialog. An empty protocol text leaves everything unselected
    // and empty (a new channel); a protocol text other than "TCP", "UDP" or
    // "IP" selects no protocol.
    void SetEntry(const ChannelEntry& entry);
    // The checked channel, after the dialog was accepted.
    const ChannelEntry& Entry() const { return m_entry; }

    // "Применить": runs the checks; closes the dialog only when all pass.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // One name box with its list: name -> position in the combo box.
    struct NameBox
    {
        QComboBox* combo = nullptr;
        QLabel* hint = nullptr;
        std::map<std::u16string, int> names;
    };

    void AddName(NameBox& box, const QString& name);
    bool IsKnown(const NameBox& box, const QString& name) const;
    // The name as it will be stored: whole when listed, else cut to the limit.
    QString StoredName(const NameBox& box, const QString& text) const;
    // Puts the name into the list when new and selects it.
    void EnterName(NameBox& box, const QString& name);
    void UpdateHint(const NameBox& box);
    static int PortValue(const QLineEdit* field);
    void Refuse(const QString& message);

    IPrompt* m_prompt;
    std::unique_ptr<IPrompt> m_ownPrompt;
    QComboBox* m_protocol = nullptr;
    NameBox m_sender;
    NameBox m_receiver;
    QLineEdit* m_senderPort = nullptr;
    QLineEdit* m_receiverPort = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
    ChannelEntry m_entry;
};

} // namespace dialogs
