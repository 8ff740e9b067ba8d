#include "util/presenter.h"

#include "util/texthelpers.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QtDebug>
#include <algorithm>

namespace {

TPresenter* installed = nullptr;

// The executable's name without extension, upper-cased: the heading of every question.
QString ProgramNameHeading() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toUpper();
}

bool IsNumberCharacter(QChar c) {
    return c == u'-' || (c >= u'0' && c <= u'9');
}

} // namespace

void InstallPresenter(TPresenter* presenter) {
    installed = presenter;
}

TPresenter* InstalledPresenter() {
    return installed;
}

void ShowInfo(const QString& text) {
    const QString shown = TrimBlanksAndControls(text);
    if (installed == nullptr) {
        qWarning().noquote() << shown;
        return;
    }
    installed->ShowInfo(shown);
}

bool ConfirmBox(const QString& text) {
    TConfirmButtons buttons = TConfirmButtons::YesNo;
    QString question = text;
    if (question.startsWith(u'@')) {
        question.remove(0, 1);
        buttons = TConfirmButtons::OkCancel;
    } else {
        question += QStringLiteral(" ?");
    }
    const QString shown = ProgramNameHeading() + QStringLiteral("\r\n\r\n") + question;
    if (installed == nullptr) {
        qWarning().noquote() << shown << "(declined: nobody to ask)";
        return false;
    }
    return installed->Confirm(shown, buttons);
}

bool PromptFor(const QString& caption, const QString& prompt, QString& value) {
    if (installed == nullptr) {
        return false;
    }
    return installed->PromptFor(caption, prompt, value);
}

TCertificateAnswer AskAboutCertificate(const TCertificateQuestion& question) {
    if (installed == nullptr) {
        qWarning().noquote() << CertificateQuestionText(question) << "(refused: nobody to ask)";
        return TCertificateAnswer::Cancel;
    }
    return installed->AskAboutCertificate(question);
}

QString CertificateQuestionText(const TCertificateQuestion& question) {
    QString text;
    if (question.changed) {
        text = QStringLiteral("WARNING: the certificate of ") + question.server +
               QStringLiteral(" is not the one you chose to trust. It may have been renewed, or "
                              "someone may be listening in.\r\n\r\n");
    }
    text += QStringLiteral("The certificate of ") + question.server +
            QStringLiteral(" could not be verified:\r\n");
    for (const QString& error : question.errors) {
        text += QStringLiteral("  - ") + error + QStringLiteral("\r\n");
    }
    text += QStringLiteral("\r\nSubject: ") + question.subject +
            QStringLiteral("\r\nIssuer: ") + question.issuer +
            QStringLiteral("\r\nValid from ") + question.validFrom + QStringLiteral(" until ") +
            question.validUntil + QStringLiteral("\r\nSHA-256 fingerprint: ") +
            question.fingerprint;
    return text;
}

qint64 AskNumber(const QString& caption, const QString& prompt, QString& value) {
    QString entry = value;
    if (!PromptFor(caption, prompt, entry)) {
        value = asknumber::kCanceled;
        return 0;
    }
    if (entry.isEmpty()) {
        value = asknumber::kEmpty;
        return 0;
    }
    if (!std::all_of(entry.cbegin(), entry.cend(), IsNumberCharacter)) {
        ShowInfo(QStringLiteral("Numbers Only Please!"));
        value = asknumber::kNotDigits;
        return 0;
    }
    // Only the first minus sign is looked at; later ones fail the conversion below.
    if (entry.indexOf(u'-') > 0) {
        ShowInfo(QStringLiteral("Minus Sign in Wrong Place"));
        value = asknumber::kMisplacedMinus;
        return 0;
    }
    bool converted = false;
    const qint64 number = entry.toLongLong(&converted);
    if (!converted) {
        // A lone minus sign, "--5", "-1-2" or a number beyond 64 bits.
        ShowInfo(QStringLiteral("Numbers Only Please!"));
        value = asknumber::kNotDigits;
        return 0;
    }
    value = entry;
    return number;
}
