#include "panes/CPaneView.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

namespace panes {

CPaneView::CPaneView(const QString& caption, const QString& objectName, QWidget* parent)
    : QWidget(parent), m_layout(new QVBoxLayout(this)), m_caption(new QLabel(caption, this)),
      m_content(new QWidget(this))
{
    setObjectName(objectName);
    setAccessibleName(caption);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    // The caption reads like a dock's title bar, so the view and the docks
    // around it look like one family.
    m_caption->setObjectName(QStringLiteral("viewCaption"));
    m_caption->setAutoFillBackground(true);
    m_caption->setBackgroundRole(QPalette::AlternateBase);
    m_caption->setForegroundRole(QPalette::Text);
    const int pad = fontMetrics().height() / 4;
    m_caption->setContentsMargins(pad * 2, pad, pad * 2, pad);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    m_layout->addWidget(m_caption);
    m_layout->addWidget(line);
    m_content->setAccessibleName(caption);
    m_layout->addWidget(m_content, 1);
}

void CPaneView::SetContent(QWidget* content)
{
    if (content == m_content)
        return;
    // The layout hands back the old item; it is ours to delete.
    delete m_layout->replaceWidget(m_content, content);
    m_content->deleteLater();
    m_content = content;
    content->show();
}

QString CPaneView::Caption() const
{
    return m_caption->text();
}

} // namespace panes
