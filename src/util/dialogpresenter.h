#pragma once

#include "util/presenter.h"

class Tzkgrabstr;

// The presenter of the running program: message boxes captioned with the application's title,
// and the prompt dialog for entries.
class TDialogPresenter : public TPresenter {
public:
    // prompt: the program's prompt dialog, which outlives the presenter.
    explicit TDialogPresenter(Tzkgrabstr& prompt) : prompt_(prompt) {}

    void ShowInfo(const QString& text) override;
    bool Confirm(const QString& text, TConfirmButtons buttons) override;
    bool ConfirmWarning(const QString& caption, const QString& text) override;
    bool PromptFor(const QString& caption, const QString& prompt, QString& value) override;
    TCertificateAnswer AskAboutCertificate(const TCertificateQuestion& question) override;

private:
    Tzkgrabstr& prompt_;
};

// Raises the application's windows and makes the main one active, so that a box shown next is
// seen.
void BringAppToFront();
