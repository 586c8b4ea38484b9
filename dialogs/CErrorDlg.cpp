#include "dialogs/CErrorDlg.h"

#include "app/Artwork.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace dialogs {

namespace {

// The side picture, drawn from its SVG at whatever size the layout gives it.
class CSidePicture final : public QWidget
{
public:
    explicit CSidePicture(QWidget* parent)
        : QWidget(parent), m_renderer(app::ArtworkPath(QStringLiteral("error-side")), this)
    {
        // 81 x 143 in the artwork; the width follows the font, so the picture
        // scales with the text.
        const int width = fontMetrics().height() * 5;
        setFixedWidth(width);
        setMinimumHeight(width * 143 / 81);
        setAccessibleName(QStringLiteral("Ошибка"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QSizeF size = m_renderer.defaultSize();
        size.scale(QSizeF(rect().size()), Qt::KeepAspectRatio);
        m_renderer.render(&painter, QRectF(QPointF(0, 0), size));
    }

private:
    QSvgRenderer m_renderer;
};

QPlainTextEdit* ReadOnlyText(QWidget* parent, const QString& name, int lines)
{
    auto* field = new QPlainTextEdit(parent);
    field->setReadOnly(true);
    field->setAccessibleName(name);
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    field->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    field->setTabChangesFocus(true);
    field->setMinimumHeight(field->fontMetrics().lineSpacing() * lines +
                            2 * field->frameWidth() + 8);
    return field;
}

} // namespace

CErrorDlg::CErrorDlg(QWidget* parent)
    : QDialog(parent), m_operationField(new QLineEdit(this)),
      m_errorField(ReadOnlyText(this, QStringLiteral("Произошла ошибка:"), 3)),
      m_technicalField(ReadOnlyText(this, QStringLiteral("Техническая информация:"), 4))
{
    setWindowTitle(QStringLiteral("Tessarium"));
    setWindowIcon(app::AppIcon());
    setObjectName(QStringLiteral("CErrorDlg"));
    setModal(true);

    m_operationField->setReadOnly(true);
    m_operationField->setAccessibleName(QStringLiteral("Во время выполнения операции:"));

    auto* operationLabel = new QLabel(QStringLiteral("Во время выполнения операции:"), this);
    auto* errorLabel = new QLabel(QStringLiteral("Произошла ошибка:"), this);
    auto* technicalLabel = new QLabel(QStringLiteral("Техническая информация:"), this);
    operationLabel->setBuddy(m_operationField);
    errorLabel->setBuddy(m_errorField);
    technicalLabel->setBuddy(m_technicalField);

    auto* fields = new QVBoxLayout;
    fields->addWidget(operationLabel);
    fields->addWidget(m_operationField);
    fields->addSpacing(fontMetrics().height() / 2);
    fields->addWidget(errorLabel);
    fields->addWidget(m_errorField, 1);
    fields->addSpacing(fontMetrics().height() / 2);
    fields->addWidget(technicalLabel);
    fields->addWidget(m_technicalField, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new CSidePicture(this), 0, 0, Qt::AlignTop);
    grid->addLayout(fields, 0, 1);
    grid->addWidget(buttons, 1, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    // About 379 x 183 dialog units: wide enough for a listing line.
    resize(fontMetrics().averageCharWidth() * 95, fontMetrics().height() * 20);
}

void CErrorDlg::SetOperation(const QString& text)
{
    m_operation = text;
    m_operationField->setText(text);
    m_operationField->setCursorPosition(0);
}

void CErrorDlg::SetTechnicalInfo(const QString& text)
{
    m_technicalInfo = text;
    m_technicalField->setPlainText(text);
}

void CErrorDlg::SetErrorText(const QString& text)
{
    QString flat = text;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_errorText = flat;
    m_errorField->setPlainText(flat);
    if (!Debug.GetEnabled())
        return;
    TDebugStreamSession(Debug) << m_errorText.toStdString() << "\n";
    if (!m_technicalInfo.isEmpty())
        TDebugStreamSession(Debug) << m_technicalInfo.toStdString() << "\n";
}

void CErrorDlg::SetException(const QString& operation, const EGeneric& error)
{
    SetOperation(operation);
    SetTechnicalInfo(QString::fromStdString(error.what()));
    SetErrorText(QString::fromStdString(error.get_value("Text").as_string()));
}

int CErrorDlg::exec()
{
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - rect().center());
    }
    return QDialog::exec();
}

} // namespace dialogs
