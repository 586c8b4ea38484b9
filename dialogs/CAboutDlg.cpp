#include "dialogs/CAboutDlg.h"

#include "dialogs/DialogLook.h"
#include "version/Version.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace dialogs {

void CAboutDlg::Show(QWidget* parent)
{
    CAboutDlg dialog(parent);
    dialog.exec();
}

QString CAboutDlg::VersionText(const char* compiledVersion)
{
    if (!compiledVersion)
        return QStringLiteral("Невозможно получить версию");
    const QString version = QString::fromUtf8(compiledVersion).trimmed();
    if (version.isEmpty())
        return QStringLiteral("Версия не установлена");
    static const QRegularExpression shape(QStringLiteral("^[0-9]+(\\.[0-9]+){0,3}$"));
    if (!shape.match(version).hasMatch())
        return QStringLiteral("Ошибка извлечения версии");
    return version;
}

QString CAboutDlg::BuildVersionText()
{
    return VersionText(product::kVersion);
}

QString CAboutDlg::CopyrightText()
{
    return QString::fromUtf8(product::kCopyright);
}

QString CAboutDlg::SiteAddress()
{
    return QString::fromUtf8(product::kHomepage);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("О программе"));
    PrepareDialogWindow(*this);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setPixmap(DialogPicture(QStringLiteral(":/dialogs/about.svg"), QSize(96, 96), this));
    picture->setAccessibleName(QStringLiteral("Эмблема программы"));
    picture->setAlignment(Qt::AlignTop);

    auto* title = new QLabel(QStringLiteral("Программа проверки каналов связи, версия"), this);
    auto* version = new QLabel(BuildVersionText(), this);
    version->setObjectName(QStringLiteral("version"));
    version->setAccessibleName(QStringLiteral("Версия"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    auto* copyright = new QLabel(CopyrightText(), this);
    copyright->setObjectName(QStringLiteral("copyright"));
    copyright->setAccessibleName(QStringLiteral("Авторские права"));
    copyright->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const QString address = SiteAddress();
    auto* link = new QLabel(this);
    link->setObjectName(QStringLiteral("link"));
    link->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(address.toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setFocusPolicy(Qt::StrongFocus);
    link->setAccessibleName(QStringLiteral("Сайт программы"));
    link->setAccessibleDescription(address);
    link->setVisible(!address.isEmpty());

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setAccessibleName(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(picture, 0, 0, 5, 1);
    layout->addWidget(title, 0, 1);
    layout->addWidget(version, 1, 1);
    layout->addWidget(copyright, 2, 1);
    layout->addWidget(link, 3, 1);
    layout->setRowStretch(4, 1);
    layout->addWidget(buttons, 5, 0, 1, 2);
    layout->setHorizontalSpacing(16);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(link, ok);
    ok->setFocus();
}

void CAboutDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnParent(*this);
}

} // namespace dialogs
