// What every window shows the user and the window system, through the real
// dialogs of QtPrompter: titles, text from the user shown as typed, names for
// screen readers, keyboard access to the menus, and a size that fits a small
// screen.
#include "core/startup.h"
#include "platform/qtprompter.h"
#include "platform/recorddialog.h"
#include "testsupport.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/frmabout.h"
#include "ui/config/frmcompare.h"
#include "ui/config/frmconfig.h"
#include "ui/reference/refeditors.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <functional>

using namespace tarn;
using namespace tarn::test;

namespace
{

// What a modal dialog showed, captured before it is answered.
struct Seen {
    QString title;      // as the window system has it (xcb), else windowTitle()
    QStringList labels; // label texts shown literally
    QStringList rich;   // label texts Qt may render as markup
};

// The title the window manager reads from an X window.
QString netWmName(const QString &windowId)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-id"), windowId, QStringLiteral("_NET_WM_NAME")});
    xprop.waitForFinished();
    // _NET_WM_NAME(UTF8_STRING) = "Title"
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype quote = out.indexOf(QLatin1Char('"'));
    return quote < 0 ? out : out.mid(quote + 1).chopped(1);
}

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The title of a shown window as the window manager reads it (xcb), else windowTitle().
QString platformTitle(QWidget *window)
{
    return onX11() ? netWmName(QString::number(window->winId())) : window->windowTitle();
}

// The X window of the program's main window (its class is "tarn"), or nothing yet.
QString programWindow()
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    xwininfo.waitForFinished();
    for (const QString &line : QString::fromUtf8(xwininfo.readAllStandardOutput()).split('\n'))
        if (line.contains(QLatin1String("(\"tarn\" \"tarn\")")))
            return line.trimmed().section(QLatin1Char(' '), 0, 0);
    return {};
}

// Answers every modal dialog that comes up while `run` runs: input boxes with
// `typed` (cancelled when empty), message boxes with their escape button.
QList<Seen> answering(const std::function<void()> &run, const QString &typed = QString())
{
    QList<Seen> seen;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("seen").toBool())
            return;
        if (!QTest::qWaitForWindowExposed(modal))
            return;
        modal->setProperty("seen", true);
        Seen s{platformTitle(modal), {}, {}};
        for (QLabel *label : modal->findChildren<QLabel *>()) {
            const bool plain =
                label->textFormat() == Qt::PlainText ||
                (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text()));
            (plain ? s.labels : s.rich) << label->text();
        }
        seen << s;
        if (auto *input = qobject_cast<QInputDialog *>(modal); input && !typed.isEmpty()) {
            input->setTextValue(typed);
            input->accept();
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
        }
    });
    timer.start();
    run();
    return seen;
}

const QString kRich[] = {QStringLiteral("Tom <b>Bold</b>"), QStringLiteral("A &amp; B")};

// A sample data directory with one more configuration (of one class) named
// `name`, and the first item renamed so on request.
struct Fixture {
    explicit Fixture(const QString &name = QStringLiteral("Plain"), bool item = false) : name(name)
    {
        Peek data(dir.dataPath());
        data.exec("INSERT INTO package VALUES (?)", {name});
        data.exec("INSERT INTO classdef (package_name, class_num, class_name) VALUES (?, 1, 'C')",
                  {name});
        if (item)
            Peek(dir.refPath())
                .exec("UPDATE item SET i_name = ? WHERE i_id = (SELECT min(i_id) FROM item)",
                      {name});
        state = &dir.start();
        state->setCurrentPackage(name);
    }
    // The main window builds its list and selects nothing: select the name.
    void select(frmConfig &main) const
    {
        auto *list = child<QListWidget>(&main, "classlist");
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).value(0));
    }
    QString name;
    DataDir dir;
    AppState *state = nullptr;
    QtPrompter prompter;
};

} // namespace

class tst_Windows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); } // as the program starts
    void titlesOnTheWindowSystem_data();
    void titlesOnTheWindowSystem();
    void userTextShownAsTyped_data();
    void userTextShownAsTyped();
    void everyControlHasAName();
    void menusHaveMnemonics();
    void altFOpensFileMenuFromATextField();
    void longNameFitsSmallScreen();
};

void tst_Windows::titlesOnTheWindowSystem_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("title");
    QTest::newRow("main window") << QString("main") << QString("QZ Fabrikon (TARN) - Version 1.4a");
    QTest::newRow("the program's main window")
        << QString("program") << QString("QZ Fabrikon (TARN) - Version 1.4a");
    QTest::newRow("message without title") << QString("message") << QString("QZ Fabrikon (TARN)");
    QTest::newRow("delete confirmation") << QString("delete") << QString("Delete Confirmation");
    QTest::newRow("input box") << QString("input") << QString("Mod ID");
    QTest::newRow("class editor") << QString("classes")
                                  << QString("QZ TARN 1 - Class Configuration");
    QTest::newRow("weapon editor") << QString("weapons") << QString("Edit Weapons");
    QTest::newRow("about box") << QString("about") << QString("About MyApp");
}

// Qt appends the application's display name to every title it hands the
// window system, while windowTitle() stays as set: the test reads what the
// window manager shows (under Xvfb; elsewhere windowTitle()).
void tst_Windows::titlesOnTheWindowSystem()
{
    QFETCH(QString, window);
    QFETCH(QString, title);
    if (onX11() && (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty() ||
                    QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty()))
        QSKIP("xprop and xwininfo (x11-utils) are not installed");
    if (window == "program" && !onX11())
        QSKIP("the program's own window is read from the X server");
    Fixture f;
    frmConfig main(*f.state, f.prompter);
    f.select(main);
    const auto shown = [](QWidget *w) {
        w->show();
        if (!QTest::qWaitForWindowExposed(w))
            return QStringLiteral("(not shown)");
        return platformTitle(w);
    };
    QString got;
    if (window == "program") { // started as users start it
        QProcess program;
        program.start(QStringLiteral(TARN_PROGRAM_PATH), {"--data-dir", f.dir.path()});
        QString id;
        QTRY_VERIFY_WITH_TIMEOUT(!(id = programWindow()).isEmpty(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(netWmName(id), title, 5000);
        program.kill();
        program.waitForFinished();
        return;
    } else if (window == "main") {
        got = shown(&main);
    } else if (window == "classes") {
        frmClasses editor(*f.state, f.prompter);
        got = shown(&editor);
    } else if (window == "weapons") {
        got = shown(makeRefEditor(schema::RefKind::Weapon, *f.state, f.prompter).get());
    } else if (window == "about") {
        frmAbout about;
        got = shown(&about);
    } else {
        main.show();
        const QList<Seen> seen = answering([&] {
            if (window == "message")
                static_cast<Prompter &>(f.prompter).message("Import Complete");
            else if (window == "delete")
                child<QPushButton>(&main, "btDelete")->click();
            else
                child<QAction>(&main, "mnuSetModID")->trigger();
        });
        QCOMPARE(seen.size(), 1);
        got = seen.first().title;
    }
    QCOMPARE(got, title);
}

void tst_Windows::userTextShownAsTyped_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("name");
    for (const char *where : {"delete confirmation", "name exists message", "mod id prompt",
                              "class editor name", "item box"})
        for (const QString &name : kRich)
            QTest::addRow("%s: %s", where, qPrintable(name)) << where << name;
}

// Names, the Mod ID and text from files are shown literally: "<b>" is not
// bold, "&amp;" does not read as "&".
void tst_Windows::userTextShownAsTyped()
{
    QFETCH(QString, where);
    QFETCH(QString, name);
    Fixture f(name, true);
    f.state->setModId(name);
    frmConfig main(*f.state, f.prompter);
    f.select(main);
    main.show();
    if (where == "class editor name" || where == "item box") {
        frmClasses editor(*f.state, f.prompter);
        editor.show();
        if (where == "class editor name") {
            auto *label = child<QLabel>(&editor, "Label31");
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(label->text(), name);
        } else {
            auto *box = child<QCheckBox>(&editor, "Check1(0)");
            QCOMPARE(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name), name);
        }
        return;
    }
    const QList<Seen> seen = answering(
        [&] {
            if (where == "delete confirmation")
                child<QPushButton>(&main, "btDelete")->click();
            else if (where == "name exists message")
                child<QPushButton>(&main, "btNew")->click();
            else
                child<QAction>(&main, "mnuSetModID")->trigger();
        },
        where == "name exists message" ? name : QString());
    QVERIFY(!seen.isEmpty());
    const Seen &last = seen.last();
    QVERIFY2(last.rich.filter(name).isEmpty(), qPrintable(last.rich.join('|')));
    QVERIFY2(!last.labels.filter(name).isEmpty(), qPrintable(last.labels.join('|')));
}

// Screen readers need a name for each control: its own, or its label's
// (item views take none from a label), the clear button a line edit shows
// once it holds text included; and a label's name is its text, or a shown
// text would go unread.
void tst_Windows::everyControlHasAName()
{
    Fixture f;
    frmConfig main(*f.state, f.prompter);
    f.select(main);
    frmClasses classes(*f.state, f.prompter);
    frmAbout about;
    frmCompare compare(*f.state, f.prompter, *f.state->data().packageNames(), QString());
    std::vector<std::unique_ptr<RecordDialog>> editors;
    for (schema::RefKind kind : schema::refKinds())
        editors.push_back(makeRefEditor(kind, *f.state, f.prompter));
    QList<QWidget *> windows{&main, &classes, &about, &compare, classes.mnuClassTable_Click()};
    for (const auto &e : editors)
        windows << e.get();
    int checked = 0;
    for (QWidget *window : windows) {
        window->show();
        for (QLineEdit *edit : window->findChildren<QLineEdit *>())
            if (edit->isClearButtonEnabled())
                edit->setText("x");
        QHash<QWidget *, QString> labelled;
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->buddy())
                labelled.insert(label->buddy(), label->text().remove('&'));
            // A shortened text is the start of its name; a mark (pixmap) has no text.
            const QString shown = label->text().remove('&').remove(QChar(0x2026));
            const QString read =
                QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
            QVERIFY2(!label->isVisible() || read.startsWith(shown),
                     qPrintable(window->objectName() + ": " + label->objectName() + ": " + read));
        }
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
            QVERIFY2(!name.trimmed().isEmpty(),
                     qPrintable(window->objectName() + ": " + w->objectName()));
            ++checked;
        }
    }
    QVERIFY(checked > 60);
    QCOMPARE(child<QListWidget>(&main, "classlist")->accessibleName(), "Class Configurations");
}

// Each menu and item has an Alt key, unique in its menu.
void tst_Windows::menusHaveMnemonics()
{
    Fixture f;
    frmConfig main(*f.state, f.prompter);
    f.select(main);
    frmClasses classes(*f.state, f.prompter);
    std::unique_ptr<RecordDialog> items =
        makeRefEditor(schema::RefKind::Item, *f.state, f.prompter);
    // Shortcuts show beside their items.
    const QStringList expected{
        "&File: &Set Mod ID... | &Compare... | Connect to &Team Database... | Use &Local Files | "
        "E&xit",
        "&Update: &Weapons... | &Grenades... | &Special Abilities... | "
        "&Items...",
        "&Help: &About TARN1...",
        "&File: &Save As... | Save &Unprotected...",
        "&Edit: &Undo Ctrl+Z | &Redo Ctrl+Shift+Z",
        "&View: Class &Table... Ctrl+T",
        "&Edit: &Undo Ctrl+Z | &Redo Ctrl+Shift+Z"};
    QStringList menus;
    for (QWidget *window : {static_cast<QWidget *>(&main), static_cast<QWidget *>(&classes),
                            static_cast<QWidget *>(items.get())}) {
        QSet<QChar> barKeys;
        for (QAction *menuAction : window->findChild<QMenuBar *>()->actions()) {
            QSet<QChar> keys{};
            const auto key = [](const QString &text) {
                const qsizetype at = text.indexOf('&');
                return at < 0 || at + 1 >= text.size() ? QChar() : text.at(at + 1).toLower();
            };
            const QChar menuKey = key(menuAction->text());
            QVERIFY2(!menuKey.isNull() && !barKeys.contains(menuKey),
                     qPrintable(menuAction->text()));
            barKeys << menuKey;
            QStringList entries;
            for (QAction *item : menuAction->menu()->actions()) {
                if (item->isSeparator())
                    continue;
                const QChar k = key(item->text());
                QVERIFY2(!k.isNull() && !keys.contains(k), qPrintable(item->text()));
                keys << k;
                entries << (item->text() + ' ' + item->shortcut().toString()).trimmed();
            }
            menus << menuAction->text() + ": " + entries.join(" | ");
        }
    }
    QCOMPARE(menus, expected);
}

// Alt+F while a field has focus opens the File menu and types nothing.
void tst_Windows::altFOpensFileMenuFromATextField()
{
    Fixture f;
    frmClasses classes(*f.state, f.prompter);
    classes.show();
    QApplication::setActiveWindow(&classes);
    QVERIFY(QTest::qWaitForWindowActive(&classes));
    QLineEdit *field = child<QLineEdit>(&classes, "fldClassName");
    field->setFocus();
    const QString before = field->text();
    QTest::keyClick(field, Qt::Key_F, Qt::AltModifier);
    QMenu *file = child<QMenu>(&classes, "mnuFile");
    QTRY_VERIFY(file->isVisible());
    file->close();
    QCOMPARE(field->text(), before);
    QVERIFY(!field->isModified());
}

// However long the configuration's name, the class editor fits a 1024x768
// screen, and the name is shortened with its whole text in the tooltip.
void tst_Windows::longNameFitsSmallScreen()
{
    const QString name = QString("Very long name ").repeated(14).left(200);
    Fixture f(name);
    frmClasses classes(*f.state, f.prompter);
    classes.show();
    classes.adjustSize();
    for (const QSize &size : {classes.minimumSizeHint(), classes.size()})
        QVERIFY2(size.width() <= 1024 && size.height() <= 768,
                 qPrintable(QString("%1x%2").arg(size.width()).arg(size.height())));
    auto *label = child<QLabel>(&classes, "Label31");
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QVERIFY(label->text().size() < name.size());
    QTextDocument tip;
    tip.setHtml(label->toolTip());
    QCOMPARE(tip.toPlainText(), name);
    QCOMPARE(label->accessibleName(), name);
}

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
