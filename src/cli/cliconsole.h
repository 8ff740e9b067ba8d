#pragma once

#include "util/presenter.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// The three standard streams of one run of zknews-cli.
struct TCliStreams {
    QIODevice& in;
    QIODevice& out;
    QIODevice& err;
};

// Everything zknews-cli tells a person goes through here, onto standard error: failures and
// the helpers' messages as one line each, "zknews-cli: " in front, and the connection layer's
// status lines. The password of the run is masked wherever it would appear, so not even a
// server that echoes it puts it on the screen.
//
// While it exists it is the program's presenter: nobody sits in front of a command run from a
// script, so messages go to standard error, questions are declined and prompts cancelled.
// The presenter that was installed before is installed again when it goes.
class TCliConsole : public TPresenter {
public:
    TCliConsole(QIODevice& err, QByteArray password);
    ~TCliConsole() override;
    TCliConsole(const TCliConsole&) = delete;
    TCliConsole& operator=(const TCliConsole&) = delete;

    // One line: "zknews-cli: " and the text, its line breaks turned into blanks.
    void Message(const QString& text);
    // A status line of the connection layer, without its line end.
    void Status(const QString& text);
    // How many messages have been written so far: a helper that reported one has failed.
    int MessageCount() const { return messageCount_; }

    void ShowInfo(const QString& text) override;
    bool Confirm(const QString& text, TConfirmButtons buttons) override;
    bool PromptFor(const QString& caption, const QString& prompt, QString& value) override;

private:
    void WriteLine(QString text);

    QIODevice& err_;
    QByteArray password_;
    TPresenter* previous_;
    int messageCount_ = 0;
};
