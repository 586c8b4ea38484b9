#pragma once

// The filter dialog "Фильтр" of the events pane: six check lists (statuses,
// protocols, port groups, descriptions, senders, receivers) from which
// "Применить" builds the criteria of the events filter. The pane shows it on
// the GUI thread, preloaded with the criteria in force, and applies
// Criteria() when it is accepted.
//
// - An item is checked at the start when its value is in the matching list of
//   the criteria given; a list whose criteria list is empty starts unchecked.
// - "Применить": each criteria list becomes the values of its checked items,
//   in item order (nothing checked: an empty list, no restriction); accepted.
// - "Очистить": every check mark goes; the dialog stays open.
// - "Отмена": rejected; Criteria() keeps what the dialog was given.
//
// Threads: the GUI thread only.

#include "channel/SchemeGroup.h"
#include "events/FilterCriteria.h"

#include <QDialog>

#include <array>
#include <optional>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace dialogs {

class CFilterDlg final : public QDialog
{
    Q_OBJECT

public:
    // The six lists, in the order of the criteria they build.
    enum CheckListId
    {
        LIST_STATUSES = 0,
        LIST_DESCRIPTIONS,
        LIST_PROTOCOLS,
        LIST_SENDERS,
        LIST_RECEIVERS,
        LIST_PORT_GROUPS,
        LIST_COUNT,
    };

    // current: the criteria in force, none when no filter is applied. senders
    // and receivers: the store's sets, sorted. groups: the scheme's groups in
    // scheme order.
    CFilterDlg(const std::optional<events::FilterCriteria>& current,
               std::vector<std::string> senders, std::vector<std::string> receivers,
               std::vector<channel::SchemeGroup> groups, QWidget* parent = nullptr);

    // What "Применить" built (or what the dialog was given, before that).
    const events::FilterCriteria& Criteria() const { return m_criteria; }

    QListWidget* CheckList(CheckListId list) const { return m_lists[list]; }
    QPushButton* ApplyButton() const { return m_apply; }
    QPushButton* ClearButton() const { return m_clear; }
    QPushButton* CancelButton() const { return m_cancel; }

public slots:
    // "Применить".
    void accept() override;
    // "Очистить".
    void ClearChecks();

private:
    QListWidget* MakeList(CheckListId list, const QString& label);
    void AddItem(CheckListId list, const QString& text, bool checked);
    std::vector<int> CheckedPositions(CheckListId list) const;

    events::FilterCriteria m_criteria;
    std::vector<std::string> m_senders;
    std::vector<std::string> m_receivers;
    std::vector<channel::SchemeGroup> m_groups;

    std::array<QListWidget*, LIST_COUNT> m_lists{};
    QPushButton* m_apply = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace dialogs
