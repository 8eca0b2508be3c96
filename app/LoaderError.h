#pragma once
// The loader's own error: raised for an oversized firmware block and a refused settings write,
// caught and shown by the one error display (app/ErrorDisplay.h) or logged by the scan pass.

#include <QByteArray>
#include <QString>
#include <exception>

class LoaderError : public std::exception {
public:
    explicit LoaderError(QString message) : message_(std::move(message)), utf8_(message_.toUtf8())
    {
    }
    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// The message text of what was thrown: the loader's own message, a standard exception's text, or
// an empty text for a value that is no exception (and for no error at all).
QString ExceptionText(std::exception_ptr error);
