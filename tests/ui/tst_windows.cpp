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
#include "widgets.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
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

// The title the window manager reads from an X window.
QString netWmName(const QString &windowId)
{
    // _NET_WM_NAME(UTF8_STRING) = "Title"
    const QString out = output("xprop", {"-id", windowId, "_NET_WM_NAME"});
    const qsizetype quote = out.indexOf('"');
    return quote < 0 ? out : out.mid(quote + 1).chopped(1);
}

// The title of a shown window as the window manager reads it (xcb), else windowTitle().
QString platformTitle(QWidget *window)
{
    return onX11() ? netWmName(QString::number(window->winId())) : window->windowTitle();
}

// The X window of the program's main window (its class is "tarn"), or nothing yet.
QString programWindow()
{
    for (const QString &line : output("xwininfo", {"-root", "-tree"}).split('\n'))
        if (line.contains("(\"tarn\" \"tarn\")"))
            return line.trimmed().section(' ', 0, 0);
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
        if (!modal || !modal->isVisible() || modal->property("seen").toBool() ||
            !QTest::qWaitForWindowExposed(modal))
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

// A sample data directory with one more configuration (of one class) named
// `name`, and the first item renamed so on request.
struct Fixture {
    explicit Fixture(const QString &name = QStringLiteral("Plain"), bool item = false) : name(name)
    {
        Peek data(dir.dataPath());
        data.exec("INSERT INTO package (package_name) VALUES (?)", {name});
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

// Adds a caption's Alt key to those of its menu: false when it has none, or
// one the menu has already.
bool addKey(QSet<QChar> &keys, const QString &caption)
{
    const qsizetype at = caption.indexOf('&');
    if (at < 0 || at + 1 >= caption.size() || keys.contains(caption.at(at + 1).toLower()))
        return false;
    keys << caption.at(at + 1).toLower();
    return true;
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
        const QString shown = label->text().remove('&').remove(QChar(0x2026));
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

} // namespace

class tst_Windows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); } // as the program starts
    void windows_data();
    void windows();
    void dialogs_data();
    void dialogs();
    void altFOpensFileMenuFromATextField();
    void longNameFitsSmallScreen();
};

void tst_Windows::windows_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("title"); // empty: not checked
    const QString main = "QZ Fabrikon (TARN) - Version 1.4a";
    QTest::newRow("main") << "main" << main;
    QTest::newRow("program") << "program" << main; // started as users start it
    QTest::newRow("classes") << "classes"
                             << "QZ TARN 1 - Class Configuration";
    QTest::newRow("weapon") << "weapon"
                            << "Edit Weapons";
    QTest::newRow("about") << "about"
                           << "About MyApp";
    for (const char *window : {"class table", "grenade", "item", "special", "compare"})
        QTest::newRow(window) << window << "";
}

// Qt appends the application's display name to every title it hands the
// window system, while windowTitle() stays as set: the test reads what the
// window manager shows (under Xvfb; elsewhere windowTitle()). Each menu and
// item has an Alt key, unique in its menu.
void tst_Windows::windows()
{
    QFETCH(QString, window);
    QFETCH(QString, title);
    if (onX11() && (QStandardPaths::findExecutable("xprop").isEmpty() ||
                    QStandardPaths::findExecutable("xwininfo").isEmpty()))
        QSKIP("xprop and xwininfo (x11-utils) are not installed");
    Fixture f;
    if (window == "program") {
        if (!onX11())
            QSKIP("the program's own window is read from the X server");
        QProcess program;
        program.start(TARN_PROGRAM_PATH,
                      {f.dir.server() ? "--database" : "--data-dir", f.dir.location()});
        QString id;
        QTRY_VERIFY_WITH_TIMEOUT(!(id = programWindow()).isEmpty(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(netWmName(id), title, 5000);
        program.kill();
        program.waitForFinished();
        return;
    }
    frmConfig main(*f.state, f.prompter);
    f.select(main);
    frmClasses classes(*f.state, f.prompter);
    std::unique_ptr<QWidget> owned;
    QWidget *w = window == "main" ? static_cast<QWidget *>(&main) : &classes;
    if (window == "class table")
        w = classes.mnuClassTable_Click();
    else if (window == "about")
        owned = std::make_unique<frmAbout>();
    else if (window == "compare")
        owned = std::make_unique<frmCompare>(*f.state, f.prompter, *f.state->data().packageNames(),
                                             QString());
    for (schema::RefKind kind : schema::refKinds())
        if (window == schema::refTable(kind).table)
            owned = makeRefEditor(kind, *f.state, f.prompter);
    if (owned)
        w = owned.get();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    if (!title.isEmpty())
        QCOMPARE(platformTitle(w), title);
    everyControlHasAName(w);

    auto *bar = w->findChild<QMenuBar *>();
    QCOMPARE(bar != nullptr, window != "about" && window != "compare");
    QSet<QChar> barKeys;
    for (QAction *menu : bar ? bar->actions() : QList<QAction *>()) {
        QVERIFY2(addKey(barKeys, menu->text()), qPrintable(menu->text()));
        QSet<QChar> keys;
        for (QAction *item : menu->menu()->actions())
            QVERIFY2(item->isSeparator() || addKey(keys, item->text()), qPrintable(item->text()));
    }
}

void tst_Windows::dialogs_data()
{
    QTest::addColumn<QString>("control"); // pressed in the main window; else the class editor's
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    const auto rows = [](const char *control, const char *title) {
        for (const QString name : {"Tom <b>Bold</b>", "A &amp; B"})
            QTest::addRow("%s: %s", control, qPrintable(name)) << control << title << name;
    };
    rows("btDelete", "Delete Confirmation");
    rows("btNew", "QZ Fabrikon (TARN)"); // the name exists: a message without a title of its own
    rows("mnuSetModID", "Mod ID");
    rows("Label31", "");   // the configuration's name
    rows("Check1(0)", ""); // an item's box
}

// Names, the Mod ID and text from files are shown literally: "<b>" is not
// bold, "&amp;" does not read as "&".
void tst_Windows::dialogs()
{
    QFETCH(QString, control);
    QFETCH(QString, title);
    QFETCH(QString, name);
    Fixture f(name, true);
    f.state->setModId(name);
    frmConfig main(*f.state, f.prompter);
    f.select(main);
    main.show();
    if (title.isEmpty()) {
        frmClasses editor(*f.state, f.prompter);
        editor.show();
        auto *shown = child<QWidget>(&editor, qPrintable(control));
        if (auto *label = qobject_cast<QLabel *>(shown)) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(label->text(), name);
        } else {
            QCOMPARE(QAccessible::queryAccessibleInterface(shown)->text(QAccessible::Name), name);
        }
        return;
    }
    const QList<Seen> seen = answering([&] { press(&main, qPrintable(control)); },
                                       control == "btNew" ? name : QString());
    QVERIFY(!seen.isEmpty());
    const Seen &last = seen.last();
    QCOMPARE(last.title, title);
    QVERIFY2(last.rich.filter(name).isEmpty(), qPrintable(last.rich.join('|')));
    QVERIFY2(!last.labels.filter(name).isEmpty(), qPrintable(last.labels.join('|')));
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
// screen, the name shortened with its whole text in the tooltip, and no
// field is squeezed below its longest value.
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
    // Squeezed to its least, every field still shows its longest value whole.
    classes.resize(classes.minimumSizeHint());
    classes.layout()->activate();
    const int frame = classes.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    for (QLineEdit *field : classes.findChildren<QLineEdit *>())
        QVERIFY2(field->width() >=
                     field->fontMetrics().horizontalAdvance("-32768") + 2 * (frame + 2),
                 qPrintable(field->objectName()));
}

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
