#pragma once

#include "util/presenter.h"

#include <QList>
#include <QString>
#include <optional>

// Stands in for the user: keeps every text shown or asked and answers from a script. Installed
// for its lifetime. An unscripted question is declined, an unscripted prompt cancelled and an
// unscripted certificate question answered with Cancel.
class TRecordingPresenter : public TPresenter {
public:
    struct TQuestion {
        QString text;
        TConfirmButtons buttons;
        // Only for warning questions: their own caption.
        QString warningCaption;
    };
    struct TPrompt {
        QString caption;
        QString prompt;
        QString value;
    };

    TRecordingPresenter() { InstallPresenter(this); }
    ~TRecordingPresenter() override { InstallPresenter(nullptr); }
    TRecordingPresenter(const TRecordingPresenter&) = delete;
    TRecordingPresenter& operator=(const TRecordingPresenter&) = delete;

    // Answers for the next questions, in order.
    QList<bool> confirmAnswers;
    // Entries for the next prompts, in order; nullopt cancels.
    QList<std::optional<QString>> promptAnswers;

    // Answers for the next certificate questions, in order.
    QList<TCertificateAnswer> certificateAnswers;

    QList<QString> infos;
    QList<TQuestion> questions;
    QList<TPrompt> prompts;
    QList<TCertificateQuestion> certificateQuestions;

    void ShowInfo(const QString& text) override { infos += text; }

    bool Confirm(const QString& text, TConfirmButtons buttons) override {
        questions += TQuestion{text, buttons, QString()};
        return confirmAnswers.isEmpty() ? false : confirmAnswers.takeFirst();
    }

    bool ConfirmWarning(const QString& caption, const QString& text) override {
        const bool agreed = Confirm(text, TConfirmButtons::YesNo);
        questions.last().warningCaption = caption;
        return agreed;
    }

    bool PromptFor(const QString& caption, const QString& prompt, QString& value) override {
        prompts += TPrompt{caption, prompt, value};
        const std::optional<QString> answer =
            promptAnswers.isEmpty() ? std::nullopt : promptAnswers.takeFirst();
        if (answer) {
            value = *answer;
        }
        return answer.has_value();
    }

    TCertificateAnswer AskAboutCertificate(const TCertificateQuestion& question) override {
        certificateQuestions += question;
        return certificateAnswers.isEmpty() ? TCertificateAnswer::Cancel
                                            : certificateAnswers.takeFirst();
    }
};
