#include "app/OpenDialog.h"

#include "platform/SystemThreads.h"

#include <QFileDialog>

#include <algorithm>
#include <memory>

namespace {
// What the dialog's own thread needs to end once the dialog is gone; it has nothing left to do.
constexpr int kDialogThreadsExitMs = 2000;
}  // namespace

TOpenDialog::TOpenDialog(QWidget* parent, QStringList nameFilters)
    : parent_(parent), nameFilters_(std::move(nameFilters))
{
}

QString TOpenDialog::Execute(const QString& start)
{
    std::vector<uint64_t> before = SystemThreadIds();
    std::sort(before.begin(), before.end());
    auto dialog = std::make_unique<QFileDialog>(parent_);
    // The threads the dialog started: nothing else starts one while it is being made.
    std::vector<uint64_t> own;
    for (const uint64_t id : SystemThreadIds())
        if (!std::binary_search(before.begin(), before.end(), id)) own.push_back(id);

    dialog->setObjectName(QStringLiteral("OpenDialog1"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(nameFilters_);
    dialog->selectFile(start);
    dialog->selectNameFilter(nameFilters_.value(0));
    QString chosen;
    if (dialog->exec() == QDialog::Accepted) chosen = dialog->selectedFiles().value(0);
    dialog.reset();
    AwaitSystemThreadsExit(own, kDialogThreadsExitMs);
    return chosen;
}
