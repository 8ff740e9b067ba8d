#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The general exception of the program: a failure that carries a message meant for a person.
// Every layer's own exception classes derive from it, so a caller that only wants the text
// catches this one.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}

    const QString& Message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};
