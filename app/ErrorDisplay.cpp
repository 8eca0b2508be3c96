#include "app/ErrorDisplay.h"

#include "app/LoaderError.h"

#include <QMessageBox>

namespace {
ErrorDisplayFunction gDisplay;
}

void ShowErrorBox(const QString& caption, const QString& text)
{
    if (gDisplay) {
        gDisplay(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.exec();
}

ErrorDisplayFunction SetErrorDisplay(ErrorDisplayFunction display)
{
    ErrorDisplayFunction previous = std::move(gDisplay);
    gDisplay = std::move(display);
    return previous;
}

QString ErrorCaption()
{
    return QStringLiteral("GXFWLoader");
}

void ShowException(std::exception_ptr error)
{
    // A thrown value that is no exception shows an empty text.
    ShowErrorBox(ErrorCaption(), ExceptionText(error));
}

LoaderApplication::LoaderApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool LoaderApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}
