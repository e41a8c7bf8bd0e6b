// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/classes/frmclasses.h"
#include "widgets.h"

#include <QCheckBox>
#include <QLineEdit>

#include <memory>

namespace tarn::test
{

// A data directory whose one configuration holds the classes a test inserts
// (or the sample configuration as it is), and the class editor on it.
struct ClassEditor {
    explicit ClassEditor(bool sample = false)
        : package(sample ? QStringLiteral("Sample Config") : QStringLiteral("Cfg 'A'"))
    {
        if (sample)
            return;
        peek.exec("DELETE FROM classdef");
        peek.exec("DELETE FROM package");
        peek.exec("INSERT INTO package VALUES (?)", {package});
    }
    // A class of the configuration; `columns` lists the columns besides the package name.
    void insertClass(const QString &columns, const QVariantList &values) const
    {
        peek.exec(QStringLiteral("INSERT INTO classdef (package_name, %1) VALUES (?%2)")
                      .arg(columns, QStringLiteral(", ?").repeated(values.size())),
                  QVariantList{package} + values);
    }
    // Opens the editor, shown; the class rows it updates from here on are counted.
    frmClasses &open()
    {
        peek.countWrites("classdef");
        AppState &state = dir.start();
        state.setCurrentPackage(package);
        editor = std::make_unique<frmClasses>(state, prompter);
        editor->show();
        if (!QTest::qWaitForWindowExposed(editor.get()))
            QTest::qFail("the class editor is not shown", __FILE__, __LINE__);
        return *editor;
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(editor.get(), name); }
    QCheckBox *box(const char *name) const { return child<QCheckBox>(editor.get(), name); }
    void click(const char *name) const { press(editor.get(), name); }
    DataControl *nav() const { return editor->navigator(); }
    // Columns of a class (by number, or by name when `where` says so), joined by spaces.
    QString stored(const QStringList &columns, const QVariant &key,
                   const char *where = "class_num") const
    {
        return peek
            .scalar(QStringLiteral("SELECT %1 FROM classdef WHERE %2 = ?")
                        .arg(columns.join(" || ' ' || "), QLatin1String(where)),
                    {key})
            .toString();
    }

    QString package;
    DataDir dir;
    Peek peek{dir.dataPath()};
    Peek ref{dir.refPath()};
    ScriptedPrompter prompter;
    std::unique_ptr<frmClasses> editor;
};

} // namespace tarn::test
