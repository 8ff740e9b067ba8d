#include "cli/cliconsole.h"

#include <QIODevice>
#include <QRegularExpression>

namespace {

const QString kProgramPrefix = QStringLiteral("zknews-cli: ");
const QString kMask = QStringLiteral("********");

QString OnOneLine(const QString& text) {
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n]+"));
    return QString(text).replace(lineBreaks, QStringLiteral(" ")).trimmed();
}

} // namespace

TCliConsole::TCliConsole(QIODevice& err, QByteArray password)
    : err_(err), password_(std::move(password)), previous_(InstalledPresenter()) {
    InstallPresenter(this);
}

TCliConsole::~TCliConsole() {
    InstallPresenter(previous_);
}

void TCliConsole::Message(const QString& text) {
    ++messageCount_;
    WriteLine(kProgramPrefix + OnOneLine(text));
}

void TCliConsole::Status(const QString& text) {
    WriteLine(OnOneLine(text));
}

void TCliConsole::WriteLine(QString text) {
    if (!password_.isEmpty()) {
        // The password is bytes from a file or the environment; texts here are Latin-1 or
        // local 8-bit, so it is looked for in both readings.
        text.replace(QString::fromLatin1(password_), kMask);
        text.replace(QString::fromLocal8Bit(password_), kMask);
    }
    err_.write(text.toLocal8Bit() + '\n');
}

void TCliConsole::ShowInfo(const QString& text) {
    Message(text);
}

bool TCliConsole::Confirm(const QString& text, TConfirmButtons) {
    Message(text + QStringLiteral(" (declined: nobody to ask)"));
    return false;
}

bool TCliConsole::PromptFor(const QString&, const QString&, QString&) {
    return false;
}
