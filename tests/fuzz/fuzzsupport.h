#pragma once

// What every fuzz target shares: a core application (file names and the program directory need
// one), a presenter that keeps the boxes a parser would show instead of blocking on them, a
// quiet log, and the article layout the news client hands to its parsers.

#include "util/presenter.h"
#include "util/stringlist.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Counts the boxes shown; questions are declined and prompts cancelled, as without a window.
class TCountingPresenter : public TPresenter {
public:
    int infos = 0;
    QString lastInfo;

    void ShowInfo(const QString& text) override {
        ++infos;
        lastInfo = text;
    }
    bool Confirm(const QString&, TConfirmButtons) override { return false; }
    bool PromptFor(const QString&, const QString&, QString&) override { return false; }
};

inline TCountingPresenter& Presenter() {
    static TCountingPresenter presenter;
    return presenter;
}

inline void QuietLog(QtMsgType, const QMessageLogContext&, const QString&) {}

// Called from LLVMFuzzerInitialize: libFuzzer's arguments stay alive for the whole run.
inline void Start(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    qInstallMessageHandler(QuietLog);
    InstallPresenter(&Presenter());
}

inline QByteArray Bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A broken property: printed and turned into a crash, so libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

inline void Require(bool holds, const char* what) {
    if (!holds) {
        Fail(what);
    }
}

// An article as the news client reads it: lines without their line ends, the header up to the
// first empty line (which it keeps), the body after it closed by the "." line that ended the
// reply.
struct TArticle {
    TStringList header;
    TStringList body;
};

inline TArticle SplitArticle(const QByteArray& text) {
    TArticle article;
    bool inHeader = true;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        (inHeader ? article.header : article.body).Add(line);
        if (line.isEmpty()) {
            inHeader = false;
        }
    }
    article.body.Add(QByteArrayLiteral("."));
    return article;
}

} // namespace fuzz
