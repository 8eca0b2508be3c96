#pragma once
// The program's one error display: every error that ends an event handler, and the one message
// box of the loader, go through here. Tests replace it so no modal box waits for a click.

#include <QApplication>
#include <QString>
#include <functional>

using ErrorDisplayFunction = std::function<void(const QString& caption, const QString& text)>;

void ShowErrorBox(const QString& caption, const QString& text);
// Replaces the display; returns the previous one. An empty function restores the message box.
ErrorDisplayFunction SetErrorDisplay(ErrorDisplayFunction display);

// Caption of boxes that show an error raised in a handler.
QString ErrorCaption();

// Routes every event handler through one place that catches and shows what escapes it.
class LoaderApplication : public QApplication {
public:
    LoaderApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows what was thrown: its message text, or an empty text for a value that is no exception.
void ShowException(std::exception_ptr error);

// Runs f; an exception that escapes it is shown and swallowed, so the event loop goes on.
template <class F>
void RunGuarded(F&& f)
{
    try {
        f();
    } catch (...) {
        ShowException(std::current_exception());
    }
}
