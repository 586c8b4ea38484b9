#pragma once

// Paints the cells of the events grid: a background for selected and
// alternate rows, the status picture, and one line of text cut with "…" where
// it does not fit. It does what the style's item painting does for these
// cells at a fraction of the cost (no per-cell text layout, font or palette
// work), so that a screenful of cells paints in a few milliseconds.
//
// Threads: the GUI thread only.

#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace panes {

class CEventDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The columns whose texts repeat enough to keep their laid-out form.
    void SetRepeatingColumns(QList<int> columns) { m_repeating = std::move(columns); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    // Statuses, descriptions, protocols and details come from small sets:
    // their laid-out form is kept (up to a limit), so that a paint shapes only
    // the short texts of the other columns.
    const QStaticText& Laid(const QString& text, const QFont& font) const;

    QList<int> m_repeating;
    mutable QHash<QString, QStaticText> m_laid;
    mutable QFont m_laidFont;
};

} // namespace panes
