#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The two forms of a question box: Yes/No, or OK/Cancel for a question that announces an action.
enum class TConfirmButtons { YesNo, OkCancel };

// A server certificate that could not be verified, as the user is shown it.
struct TCertificateQuestion {
    QString server; // "host:port"
    QString subject;
    QString issuer;
    QString validFrom;
    QString validUntil;
    QString fingerprint; // SHA-256, "AB:CD:..."
    // Why the certificate was not verified, one text per error.
    QStringList errors;
    // A certificate kept as trusted for this server exists, and this one is another.
    bool changed = false;
};

// What the user decided about such a certificate. Cancel is the default of every question.
enum class TCertificateAnswer { Cancel, ConnectOnce, AlwaysTrust };

// How the helpers reach the user. The program installs one that shows real dialogs; tests
// install one that records every text and answers from a script, so that no code below the
// window ever depends on a person being there.
class TPresenter {
public:
    virtual ~TPresenter() = default;

    // An information box with a single OK button; returns when it is closed.
    virtual void ShowInfo(const QString& text) = 0;
    // A question box; true when the user agreed (Yes or OK). The second button is the default,
    // so that a hasty Enter declines.
    virtual bool Confirm(const QString& text, TConfirmButtons buttons) = 0;
    // A Yes/No question that warns, headed by its own caption; No is the default. Where no
    // warning can be shown, it is asked as any other Yes/No question.
    virtual bool ConfirmWarning(const QString& caption, const QString& text) {
        Q_UNUSED(caption);
        return Confirm(text, TConfirmButtons::YesNo);
    }
    // The one-line prompt: true when the user confirmed, with value then holding the entry;
    // otherwise value is left as passed in.
    virtual bool PromptFor(const QString& caption, const QString& prompt, QString& value) = 0;
    // The certificate, the errors and the three choices; Cancel where nobody can be asked.
    virtual TCertificateAnswer AskAboutCertificate(const TCertificateQuestion& question) {
        Q_UNUSED(question);
        return TCertificateAnswer::Cancel;
    }
};

// Installs the presenter (not owned; nullptr uninstalls). Without one, messages go to the log
// and every question is declined, so a program without a window never blocks on one.
void InstallPresenter(TPresenter* presenter);
TPresenter* InstalledPresenter();

// Shows text, trimmed of blanks and control characters at both ends, in an information box.
void ShowInfo(const QString& text);

// Asks a question headed by the program's name. A leading "@" selects the OK/Cancel form;
// otherwise the box asks Yes/No and " ?" is appended. True when the user agreed.
bool ConfirmBox(const QString& text);

// Prompts through the prompt dialog; see TPresenter::PromptFor.
bool PromptFor(const QString& caption, const QString& prompt, QString& value);

// Asks what to do about a certificate that could not be verified; Cancel without a presenter.
TCertificateAnswer AskAboutCertificate(const TCertificateQuestion& question);

// The question as one text: what is wrong, then the certificate's details.
QString CertificateQuestionText(const TCertificateQuestion& question);

// Markers that AskNumber leaves in its value when no number was entered; none of them starts
// like a number, so callers test the value's first character.
namespace asknumber {
inline const QString kCanceled = QStringLiteral("zkcanx");
inline const QString kEmpty = QStringLiteral("zkvoid");
inline const QString kNotDigits = QStringLiteral("zkchar");
inline const QString kMisplacedMinus = QStringLiteral("zkminus");
} // namespace asknumber

// Asks for a whole number, value being the default shown. Returns the number, or 0 with one
// of the markers above in value when none was entered.
qint64 AskNumber(const QString& caption, const QString& prompt, QString& value);
