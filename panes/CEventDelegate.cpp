#include "panes/CEventDelegate.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

namespace panes {

namespace {

constexpr int kImageSize = 16;
// Laid-out texts kept, at most: the repeating columns have a few dozen.
constexpr int kLaidTexts = 256;
constexpr int kImageSpacing = 4;

} // namespace

const QStaticText& CEventDelegate::Laid(const QString& text, const QFont& font) const
{
    if (font != m_laidFont || m_laid.size() >= kLaidTexts) {
        m_laid.clear();
        m_laidFont = font;
    }
    auto found = m_laid.find(text);
    if (found == m_laid.end()) {
        QStaticText laid(text);
        laid.setTextFormat(Qt::PlainText);
        laid.setPerformanceHint(QStaticText::AggressiveCaching);
        laid.prepare(QTransform(), font);
        found = m_laid.insert(text, laid);
    }
    return *found;
}

void CEventDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const
{
    const QStyle::State state = option.state;
    const QPalette::ColorGroup group = !(state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (state & QStyle::State_Active) ? QPalette::Normal
                                                                        : QPalette::Inactive;
    const bool selected = (state & QStyle::State_Selected) != 0;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    else if (option.features & QStyleOptionViewItem::Alternate)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::AlternateBase));

    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    QRect textRect = option.rect.adjusted(margin, 0, -margin, 0);

    const QVariant decoration = index.data(Qt::DecorationRole);
    if (decoration.canConvert<QIcon>()) {
        const QIcon icon = decoration.value<QIcon>();
        if (!icon.isNull()) {
            const QRect imageRect(textRect.left(),
                                  textRect.top() + (textRect.height() - kImageSize) / 2,
                                  kImageSize, kImageSize);
            icon.paint(painter, imageRect);
            textRect.setLeft(imageRect.right() + 1 + kImageSpacing);
        }
    }

    QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty() && textRect.width() > 0) {
        const QFontMetrics& metrics = option.fontMetrics;
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText
                                                             : QPalette::Text));
        const int top = textRect.top() + (textRect.height() - metrics.height()) / 2;
        const int baseline = top + metrics.ascent();
        if (m_repeating.contains(index.column())) {
            const QStaticText& laid = Laid(text, option.font);
            if (laid.size().width() <= textRect.width()) {
                painter->drawStaticText(QPoint(textRect.left(), top), laid);
            } else {
                painter->drawText(QPoint(textRect.left(), baseline),
                                  metrics.elidedText(text, Qt::ElideRight, textRect.width()));
            }
        } else {
            if (metrics.horizontalAdvance(text) > textRect.width())
                text = metrics.elidedText(text, Qt::ElideRight, textRect.width());
            painter->drawText(QPoint(textRect.left(), baseline), text);
        }
    }

    if (state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = option.rect;
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

} // namespace panes
