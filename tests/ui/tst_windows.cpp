// SPDX-License-Identifier: GPL-3.0-or-later
// What every window shows the user and the window system: its title as the
// window manager reads it, names for screen readers, keyboard access to the
// menus, and a size that fits a 1024x768 screen however long a name.
#include "core/startup.h"
#include "platform/qtprompter.h"
#include "testsupport.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/frmabout.h"
#include "ui/config/frmcompare.h"
#include "ui/config/frmconfig.h"
#include "ui/reference/refeditors.h"
#include "widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QStandardPaths>
#include <QTextDocument>
#include <QTimer>

using namespace tarn;
using namespace tarn::test;

namespace
{

QString output(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The title the window manager reads from an X window: _NET_WM_NAME(UTF8_STRING) = "Title".
QString netWmName(const QString &windowId)
{
    return output("xprop", {"-id", windowId, "_NET_WM_NAME"}).section('"', 1, -2);
}

// The X window of the program's main window (its class is "tarn"), or nothing yet.
QString programWindow()
{
    for (const QString &line : output("xwininfo", {"-root", "-tree"}).split('\n'))
        if (line.contains("(\"tarn\" \"tarn\")"))
            return line.trimmed().section(' ', 0, 0);
    return {};
}

// Screen readers need a name for each control: its own, or its label's
// (item views take none from a label), the clear button a line edit shows
// once it holds text included; and a label's name is its text, or a shown
// text would go unread.
void everyControlHasAName(QWidget *window)
{
    for (QLineEdit *edit : window->findChildren<QLineEdit *>())
        if (edit->isClearButtonEnabled())
            edit->setText("x");
    QHash<QWidget *, QString> labelled;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->buddy())
            labelled.insert(label->buddy(), label->text().remove('&'));
        // A shortened text is the start of its name; a mark (pixmap) has no text.
        const QString shown = label->text().remove('&').section(QChar(0x2026), 0, 0);
        const QString read = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
        QVERIFY2(!label->isVisible() || read.startsWith(shown),
                 qPrintable(label->objectName() + ": " + read));
    }
    int checked = 0;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        const bool view = qobject_cast<QAbstractItemView *>(w);
        if (!w->isVisible() ||
            !(view || qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
              qobject_cast<QComboBox *>(w)) ||
            qobject_cast<QComboBox *>(w->parentWidget()))
            continue;
        QString name = w->accessibleName();
        if (name.isEmpty() && !view) {
            name = labelled.value(w);
            if (name.isEmpty() && !qobject_cast<QComboBox *>(w)) // a combo box says its entry
                name = QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
        }
        QVERIFY2(!name.trimmed().isEmpty(), qPrintable(w->objectName()));
        ++checked;
    }
    QVERIFY(checked > 0);
}

// Each menu and item has an Alt key, unique in its menu.
void everyMenuHasKeys(const QList<QAction *> &actions, bool bar = true)
{
    QList<QKeySequence> keys;
    for (QAction *action : actions) {
        const QKeySequence key = QKeySequence::mnemonic(action->text());
        QVERIFY2(action->isSeparator() || (!key.isEmpty() && !keys.contains(key)),
                 qPrintable(action->text()));
        keys << key;
        if (bar)
            everyMenuHasKeys(action->menu()->actions(), false);
    }
}

// Alt and the first menu's key, pressed in a text field, open that menu and type nothing.
void altKeyOpensMenu(QWidget *window, QMenuBar *bar, QLineEdit *field)
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    field->setFocus();
    const QString before = field->text();
    QMenu *menu = bar->actions().first()->menu();
    QTest::keySequence(field, QKeySequence::mnemonic(menu->title()));
    QTRY_VERIFY(menu->isVisible());
    menu->close();
    QCOMPARE(field->text(), before);
    QVERIFY(!field->isModified());
}

struct Window {
    const char *name;
    QString title{};            // empty: not checked
    const char *shortened = ""; // the control that shows the long name cut short
    const char *field = "";     // a text field to press the menu's Alt key in
};

} // namespace

class tst_Windows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); } // as the program starts

    void windows_data()
    {
        const QString main = "QZ Fabrikon (TARN) - Version 1.4a";
        addRows<Window>({
            {"main", main, "", "txtFind"},
            {"program", main}, // started as users start it
            {"classes", "QZ TARN 1 - Class Configuration", "Label31", "fldClassName"},
            {"weapon", "Edit Weapons"},
            {"about", "About MyApp"},
            {"class table"},
            {"grenade"},
            {"item"},
            {"special"},
            {"compare", "", "cboB"},
        });
    }

    // Qt appends the application's display name to every title it hands the
    // window system, while windowTitle() stays as set: the test reads what the
    // window manager shows (under Xvfb; elsewhere windowTitle()).
    void windows()
    {
        QFETCH(Window, row);
        const QString window = row.name;
        if (onX11() && (QStandardPaths::findExecutable("xprop").isEmpty() ||
                        QStandardPaths::findExecutable("xwininfo").isEmpty()))
            QSKIP("xprop and xwininfo (x11-utils) are not installed");
        // One more configuration (of one class) under a name too long for any window.
        const QString name = QString("Very long name ").repeated(14).left(200);
        DataDir dir;
        Peek(dir.dataPath()).exec("INSERT INTO package (package_name) VALUES (?)", {name});
        Peek(dir.dataPath())
            .exec("INSERT INTO classdef (package_name, class_num, class_name) VALUES (?, 1, ?)",
                  {name, name});
        AppState &state = dir.start();
        QtPrompter prompter;
        if (window == "program") {
            if (!onX11())
                QSKIP("the program's own window is read from the X server");
            QProcess program;
            program.start(TARN_PROGRAM_PATH,
                          {dir.server() ? "--database" : "--data-dir", dir.location()});
            QString id;
            QTRY_VERIFY_WITH_TIMEOUT(!(id = programWindow()).isEmpty(), 30000);
            QTRY_COMPARE_WITH_TIMEOUT(netWmName(id), row.title, 5000);
            program.kill();
            program.waitForFinished();
            return;
        }
        frmConfig main(state, prompter);
        auto *list = child<QListWidget>(&main, "classlist"); // which selects nothing at first
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).value(0));
        frmClasses classes(state, prompter);
        std::unique_ptr<QWidget> owned;
        QWidget *w = window == "main" ? static_cast<QWidget *>(&main) : &classes;
        if (window == "class table")
            w = classes.mnuClassTable_Click();
        else if (window == "about")
            owned = std::make_unique<frmAbout>();
        else if (window == "compare")
            owned = std::make_unique<frmCompare>(state, prompter, *state.data().packageNames(),
                                                 QString());
        for (schema::RefKind kind : schema::refKinds())
            if (window == schema::refTable(kind).table)
                owned = makeRefEditor(kind, state, prompter);
        if (owned)
            w = owned.get();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        if (!row.title.isEmpty())
            QCOMPARE(onX11() ? netWmName(QString::number(w->winId())) : w->windowTitle(),
                     row.title);
        everyControlHasAName(w);
        auto *bar = w->findChild<QMenuBar *>();
        QCOMPARE(bar != nullptr, window != "about" && window != "compare");
        if (bar)
            everyMenuHasKeys(bar->actions());
        if (*row.field)
            altKeyOpensMenu(w, bar, child<QLineEdit>(w, row.field));

        // The long name is cut short, whole in the tooltip, and no field is
        // squeezed below its longest value.
        w->adjustSize();
        for (const QSize &size : {w->minimumSizeHint(), w->size()})
            QVERIFY2(size.width() <= 1024 && size.height() <= 768,
                     qPrintable(QString("%1x%2").arg(size.width()).arg(size.height())));
        if (*row.shortened) {
            QTextDocument tip;
            tip.setHtml(child<QWidget>(w, row.shortened)->toolTip());
            QCOMPARE(tip.toPlainText(), name);
        }
        w->resize(w->minimumSizeHint());
        w->layout()->activate();
        const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        for (QLineEdit *field : w->findChildren<QLineEdit *>())
            QVERIFY2(!field->isVisible() ||
                         field->width() >=
                             field->fontMetrics().horizontalAdvance("-32768") + 2 * (frame + 2),
                     qPrintable(field->objectName()));
    }

    // A password is typed unseen, and comes back as typed.
    void passwordTypedUnseen()
    {
        QTimer::singleShot(0, [] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->textEchoMode(), QLineEdit::Password);
            QTest::keyClicks(dialog->findChild<QLineEdit *>(), "s3cret");
            dialog->accept();
        });
        QCOMPARE(QtPrompter().password("Password:", "Password"), "s3cret");
    }
};

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
