// What every dialog of this folder must be for a user who reads it, types in
// it or listens to it: no cut caption, glyphs for every character, every
// control in the tab chain and named for screen readers, the application's
// icon, and centred on its parent.
//
// With KANALIKO_DIALOG_PICTURES set to a folder, each dialog is also saved
// there as a PNG, for a person to look at.

#include "core/CXmlSettings.h"
#include "dialogs/CAboutDlg.h"
#include "dialogs/CAddChanelDlg.h"
#include "dialogs/CChanelCheckerDlg.h"
#include "dialogs/COptionsDlg.h"
#include "dialogs/CSchemaEditorDlg.h"
#include "dialogs/support/CScriptedPrompt.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

using dialogs::CAboutDlg;
using dialogs::CAddChanelDlg;
using dialogs::CChanelCheckerDlg;
using dialogs::COptionsDlg;
using dialogs::CSchemaEditorDlg;

namespace {

std::vector<channel::SchemeGroup> ExampleGroups()
{
    const char* source = std::getenv("KANALIKO_SOURCE_DIR");
    core::CXmlSettings settings;
    settings.ReadScheme(std::string(source ? source : ".") + "/examples/settings.xml");
    std::vector<channel::SchemeGroup> groups;
    for (const auto& group : settings.Groups())
        groups.push_back(*group);
    return groups;
}

struct Case
{
    const char* name;
    std::function<std::unique_ptr<QDialog>(QWidget* parent)> make;
};

// For readable test names and failure lines.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

dialogs::test::CScriptedPrompt g_prompt;

std::vector<Case> Cases()
{
    return {
        {"scheme_editor_grouped",
         [](QWidget* parent) {
             return std::make_unique<CSchemaEditorDlg>(ExampleGroups(), &g_prompt, parent);
         }},
        {"scheme_editor_flat",
         [](QWidget* parent) {
             auto dialog = std::make_unique<CSchemaEditorDlg>(ExampleGroups(), &g_prompt, parent);
             dialog->SetGrouped(false);
             return dialog;
         }},
        {"channel_new",
         [](QWidget* parent) {
             return std::make_unique<CAddChanelDlg>(&g_prompt, parent);
         }},
        {"channel_edit",
         [](QWidget* parent) {
             auto dialog = std::make_unique<CAddChanelDlg>(&g_prompt, parent);
             dialog->AddSenderName(L"Рабочая станция");
             dialog->AddReceiverName(L"Сервер приложений");
             dialog->SetEntry({L"UDP", L"Рабочая станция", L"Сервер приложений", 47002, 47001});
             return dialog;
         }},
        {"options",
         [](QWidget* parent) {
             return std::make_unique<COptionsDlg>(channel::ProbeOptions{}, parent);
         }},
        {"about",
         [](QWidget* parent) {
             return std::make_unique<CAboutDlg>(parent);
         }},
        {"chanel_checker",
         [](QWidget* parent) {
             return std::make_unique<CChanelCheckerDlg>(g_prompt, parent);
         }},
    };
}

// Texts a widget shows as a caption, with the width it has for them.
struct Caption
{
    QString text;
    int needed = 0;
    int available = 0;
};

std::vector<Caption> CaptionsOf(QWidget& dialog)
{
    std::vector<Caption> captions;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty() || label->wordWrap() ||
            label->textFormat() == Qt::RichText)
            continue;
        const QString text = QString(label->text()).remove(QLatin1Char('&'));
        captions.push_back(
            {text, label->fontMetrics().horizontalAdvance(text), label->contentsRect().width()});
    }
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty())
            continue;
        // The button's own size hint holds its text, icon and margins; a button
        // narrower than that cuts its caption.
        captions.push_back({button->text(), button->sizeHint().width(), button->width()});
    }
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>())
        captions.push_back({group->title(), group->fontMetrics().horizontalAdvance(group->title()),
                            group->width()});
    return captions;
}

class DialogLooks : public ::testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        QPixmap iconPicture(32, 32);
        iconPicture.fill(Qt::darkBlue);
        QApplication::setWindowIcon(QIcon(iconPicture));
        parent.setWindowTitle("parent");
        // Inside the screen, so that keeping the dialog on screen does not move it.
        const QRect screen = QApplication::primaryScreen()->availableGeometry();
        parent.setGeometry(screen.adjusted(10, 10, -10, -10));
        parent.show();
        dialog = GetParam().make(&parent);
        dialog->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        dialog.reset();
        QApplication::setWindowIcon(QIcon());
    }

    QWidget parent;
    std::unique_ptr<QDialog> dialog;
};

TEST_P(DialogLooks, NoCaptionIsCut)
{
    for (const Caption& caption : CaptionsOf(*dialog))
        EXPECT_LE(caption.needed, caption.available) << caption.text.toStdString();
    // Nor a cell of a grid: every visible cell (spanned group labels aside)
    // holds its text and the item's margins.
    for (QTreeView* view : dialog->findChildren<QTreeView*>()) {
        const QAbstractItemModel* model = view->model();
        std::function<void(const QModelIndex&)> check = [&](const QModelIndex& parent) {
            for (int row = 0; row < model->rowCount(parent); ++row) {
                for (int column = 0; column < model->columnCount(parent); ++column) {
                    if (view->isColumnHidden(column) ||
                        (column > 0 && view->isFirstColumnSpanned(row, parent)))
                        continue;
                    const QModelIndex index = model->index(row, column, parent);
                    const QString text = index.data().toString();
                    const QRect cell = view->visualRect(index);
                    EXPECT_LE(view->fontMetrics().horizontalAdvance(text) + 6, cell.width())
                        << text.toStdString() << " in column " << column;
                }
                check(model->index(row, 0, parent));
            }
        };
        check(QModelIndex());
    }
}

TEST_P(DialogLooks, EveryCharacterHasAGlyph)
{
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            text = group->title();
        if (text.isEmpty() || text.startsWith('<'))
            continue;
        const QFontMetrics metrics(widget->font());
        for (char32_t c : text.toUcs4())
            EXPECT_TRUE(metrics.inFontUcs4(c)) << text.toStdString();
    }
}

TEST_P(DialogLooks, EveryControlIsInTheTabChainAndNamed)
{
    // Walk the focus chain from the first control once round.
    std::vector<QWidget*> chain;
    QWidget* start = dialog->nextInFocusChain();
    for (QWidget* w = start; w && w != dialog.get(); w = w->nextInFocusChain()) {
        chain.push_back(w);
        if (chain.size() > 500)
            break;
    }
    const auto inChain = [&](QWidget* w) {
        return std::find(chain.begin(), chain.end(), w) != chain.end();
    };
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<QTreeView*>(widget) ||
            (qobject_cast<QLineEdit*>(widget) &&
             !qobject_cast<QComboBox*>(widget->parentWidget()) &&
             !qobject_cast<QAbstractSpinBox*>(widget->parentWidget()));
        if (!control || !widget->isVisible())
            continue;
        const std::string what = widget->metaObject()->className() + std::string(" ") +
                                 widget->objectName().toStdString();
        EXPECT_TRUE(widget->focusPolicy() & Qt::TabFocus) << what;
        EXPECT_TRUE(inChain(widget)) << what;
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << what;
    }
}

TEST_P(DialogLooks, MnemonicsAreUnique)
{
    // Two captions with the same Alt key would leave one of them unreachable.
    std::map<QChar, QString> keys;
    const auto take = [&](const QString& text) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        if (at < 0 || at + 1 >= text.size())
            return;
        const QChar key = text.at(at + 1).toLower();
        EXPECT_TRUE(keys.emplace(key, text).second)
            << text.toStdString() << " and " << keys[key].toStdString();
    };
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy())
            take(label->text());
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        take(button->text());
}

TEST_P(DialogLooks, ShowsTheApplicationIconAndSitsOnItsParent)
{
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_EQ(dialog->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    const QPoint offset = dialog->frameGeometry().center() - parent.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
}

TEST_P(DialogLooks, DrawsSomething)
{
    const QImage picture = dialog->grab().toImage();
    ASSERT_FALSE(picture.isNull());
    int differing = 0;
    const QRgb first = picture.pixel(0, 0);
    for (int y = 0; y < picture.height(); y += 2)
        for (int x = 0; x < picture.width(); x += 2)
            differing += picture.pixel(x, y) != first;
    EXPECT_GT(differing, 100);
    if (const char* folder = std::getenv("KANALIKO_DIALOG_PICTURES")) {
        QDir().mkpath(folder);
        const QString path = QString::fromUtf8(folder) + "/" + GetParam().name + ".png";
        EXPECT_TRUE(picture.save(path)) << path.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogLooks, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
