// The window's own "List Articles in Newsgroup" over a whole large group on the local news
// server, offscreen: seconds from the click to the filled summary and the process's peak
// memory, next to a raw socket reading the same XOVER in the same run (the wire's limit here).
// Then F3 across the filled summary for a text that only the last entry has.
//
//   bench_window_listing [GROUP [HOST]]     (default zk.test.big 127.0.0.1; port 119)
#include "rawxover.h"
#include "recordingpresenter.h"
#include "search/zkfnddlg.h"
#include "ui/summaryview.h"
#include "ui/unit1.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QTabWidget>
#include <cstdio>

using namespace bench;

namespace {

// Connects through the connection page and selects the group in the group list.
bool OpenConnection(TForm1& form, const QString& host, const QByteArray& group) {
    form.Edit1->setEditText(host);
    form.Button1Click();
    const QList<QListWidgetItem*> items =
        form.ListBox1->findItems(QString::fromLatin1(group), Qt::MatchExactly);
    if (items.isEmpty()) {
        std::fprintf(stderr, "group %s not listed by %s\n", group.constData(), qPrintable(host));
        return false;
    }
    form.ListBox1->setCurrentItem(items.first());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    const QByteArray group = args.value(1, QStringLiteral("zk.test.big")).toLatin1();
    const QString host = args.value(2, QStringLiteral("127.0.0.1"));

    const Figures raw = RawXover(host, 119, group);
    std::printf("raw socket XOVER          %8.3f s  %lld summaries\n", raw.seconds,
                static_cast<long long>(raw.summaries));

    TRecordingPresenter presenter;
    TForm1 form;
    Tzkfind find(&form);
    form.zkfind = &find;
    form.Timer1->stop();
    form.show();
    QApplication::processEvents();
    if (!OpenConnection(form, host, group)) {
        return 1;
    }
    // The start prompt is answered with the group's first number: the whole group is listed.
    presenter.promptAnswers = {QStringLiteral("1")};
    QElapsedTimer elapsed;
    elapsed.start();
    form.Button3Click();
    QApplication::processEvents();
    const double windowSeconds = elapsed.nsecsElapsed() / 1e9;
    const qint64 lines = form.Memo4->LineCount();
    std::printf("window List Articles      %8.3f s  %lld summary lines\n", windowSeconds,
                static_cast<long long>(lines));
    std::printf("ratio window/raw          %8.2f   (target at most 1.5)\n", windowSeconds / raw.seconds);
    std::printf("peak memory               %8.1f MiB (target under 300)\n", PeakMemoryMiB());

    // F3 from the top of the summary to the one entry that carries this number.
    const QString lastMark = u'[' + QString::number(raw.summaries) + u']';
    find.fndtxt->setEditText(lastMark);
    form.Memo4->SetCaret(0);
    presenter.infos.clear();
    elapsed.restart();
    form.FindInSummary();
    const double searchMs = elapsed.nsecsElapsed() / 1e6;
    const bool found = presenter.infos.isEmpty() &&
                       form.Memo4->SelectedText() == lastMark;
    std::printf("F3 to the last entry      %8.1f ms (target under 100) %s\n", searchMs,
                found ? "found" : "NOT FOUND");
    form.QRNNTP1->Disconnect();
    return lines >= 2 * raw.summaries && found ? 0 : 1;
}
