#pragma once
// The loader's own error: raised for an oversized firmware block and a refused settings write,
// caught and shown by the one error display (app/ErrorDisplay.h).

#include <QString>
#include <QByteArray>
#include <exception>

class LoaderError : public std::exception {
public:
    explicit LoaderError(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};
