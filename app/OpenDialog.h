#pragma once
// The window's file-open dialog (OpenDialog1). Its filters and mode belong to the window for its
// whole life, but the dialog itself exists only while it is shown: a file dialog's file-system
// model runs a thread of its own, which would otherwise run as long as the window and still be
// ending its system thread when the program has ended.

#include <QString>
#include <QStringList>

class QWidget;

class TOpenDialog {
public:
    TOpenDialog(QWidget* parent, QStringList nameFilters);

    // "Caption (*.ext)" entries, the first selected whenever the dialog opens.
    const QStringList& nameFilters() const { return nameFilters_; }

    // Shows the dialog, modal, starting at start; the existing file chosen, or empty when the
    // user cancels. The dialog is gone, its threads with it, when this returns.
    QString Execute(const QString& start);

private:
    QWidget* const parent_;
    const QStringList nameFilters_;
};
