// The window's own "List Articles in Newsgroup" over a whole large group, offscreen: seconds
// from the click to the filled summary next to a raw socket reading the same XOVER, and the
// window process's peak memory. Then F3 across the filled summary for a text that only the
// last entry has, and the time to paint the summary pane while scrolling and paging through it.
//
// Both servers are measured. The local news server needs more time for the reply than the
// window does, which hides most of the window's cost; so the reply is also captured once and
// served from memory by the replay server, in a process of its own so that its copy of the
// reply does not count as the window's memory. There, raw read and window listing are each
// timed best of a few rounds.
//
//   bench_window_listing [GROUP [HOST]]     (default zk.test.big 127.0.0.1; port 119)
//   bench_window_listing --generate N       (N generated summaries; no news server asked)
//   bench_window_listing --stored N         (a stored group of N generated summaries, below)
//
// Either form may end in "--screenshots DIR": after the figures the window is then worked by
// keys as a person would, and pictures of it are saved in DIR at the top of the summary, with
// lines selected and copied about halfway down, at its end, and at an entry found near its end.
//
// --stored N fills a store of its own with N generated summaries of one group, as earlier syncs
// would have, and the replay server announces just those: the window, double-clicking the group,
// lists it from the store and asks the server for nothing newer. It prints "window stored 1M
// first screen MS" (from the double-click until the summary pane has painted its first screen of
// entries), "window stored 1M list S" (until the whole group is listed, entries and scroll
// range) and "window stored peak memory MIB" ("1M" is N in millions). Then it lists the group
// again by number and by thread (the summary order chosen for it), and prints both times,
// "window thread/number 1M RATIO" (by thread over by number) and "window thread peak memory
// MIB".
//
// Grep-able lines: "replay window/raw RATIO", "replay window/raw cpu RATIO" (processor time of
// this thread, which the machine's other load does not inflate), "replay F3 MS", "replay scroll
// frame MS", "replay page frame MS", "replay scroll frame cpu MS", "replay page frame cpu MS" (the
// worst frame's processor time), "replay peak memory MIB".
#include "rawxover.h"
#include "recordingpresenter.h"
#include "replayserver.h"
#include "search/zkfnddlg.h"
#include "store/newsstore.h"
#include "ui/summaryview.h"
#include "ui/unit1.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr int kRounds = 3;
constexpr int kFrames = 200;
// A wheel notch scrolls three lines.
constexpr int kWheelLines = 3;

// Stores the overview's summaries as syncs from the replay server on port would have left them:
// in batches, under the group's name on that server, with the group's marks.
void FillStore(const QString& path, quint16 port, const TOverview& overview) {
    constexpr qsizetype kBatch = 10000;
    TNewsStore store(path);
    const qint64 server = store.ServerId(QStringLiteral("127.0.0.1"), port);
    store.SaveGroupList(server, {TStoredGroup{overview.group, overview.First(), overview.Last()}});
    const qint64 group = store.GroupId(server, overview.group);
    for (qsizetype first = 0; first < overview.numbers.size(); first += kBatch) {
        QList<TStoredSummary> batch;
        const qsizetype end = std::min(first + kBatch, overview.numbers.size());
        for (qsizetype i = first; i < end; ++i) {
            const qsizetype lineEnd =
                i + 1 < overview.numbers.size() ? overview.offsets[i + 1] : overview.lines.size();
            // Without its CR LF, as the store keeps a line.
            batch.append(
                {overview.numbers[i],
                 overview.lines.mid(overview.offsets[i], lineEnd - overview.offsets[i] - 2)});
        }
        store.AddSummaries(group, batch);
    }
}

// Runs the replay server in a child process until this process ends; answers its port. With a
// store path, the child first fills that store with the group it serves.
quint16 StartReplayProcess(const QStringList& args, const QString& storePath = QString()) {
    int portPipe[2];
    int lifePipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(lifePipe) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    if (::fork() == 0) {
        ::close(lifePipe[1]);
        const bool generated = args.value(1) == QStringLiteral("--generate") ||
                               args.value(1) == QStringLiteral("--stored");
        const TReplayServer server(
            generated ? GenerateOverview("zk.test.generated", args.value(2).toInt())
                      : CaptureOverview(args.value(2, QStringLiteral("127.0.0.1")), 119,
                                        args.value(1, QStringLiteral("zk.test.big")).toLatin1()));
        const quint16 port = server.Port();
        if (!storePath.isEmpty()) {
            try {
                FillStore(storePath, port, server.Overview());
            } catch (const Exception& error) {
                std::fprintf(stderr, "filling the store: %s\n", error.what());
                std::_Exit(1);
            }
        }
        if (::write(portPipe[1], &port, sizeof port) != sizeof port) {
            std::_Exit(1);
        }
        // Serves until the benchmark closes its end of the pipe, by exiting or dying.
        char byte = 0;
        while (::read(lifePipe[0], &byte, 1) > 0) {
        }
        std::_Exit(0);
    }
    ::close(lifePipe[0]);
    quint16 port = 0;
    if (::read(portPipe[0], &port, sizeof port) != sizeof port) {
        std::fprintf(stderr, "the replay server did not start\n");
        std::exit(1);
    }
    return port;
}

// Connects through the connection page and selects the group in the group list.
bool OpenConnection(TForm1& form, quint16 port, const QByteArray& group) {
    form.Edit1->setEditText(QStringLiteral("127.0.0.1"));
    form.Edit2->setText(QString::number(port));
    form.Button1Click();
    const QList<QListWidgetItem*> items =
        form.ListBox1->findItems(QString::fromLatin1(group), Qt::MatchExactly);
    if (items.isEmpty()) {
        std::fprintf(stderr, "group %s not listed on port %u\n", group.constData(), port);
        return false;
    }
    form.ListBox1->setCurrentItem(items.first());
    return true;
}

// Wall and processor seconds of one listing; the machine's other load shows in the first only.
Figures ListOnce(TForm1& form, TRecordingPresenter& presenter) {
    // The start prompt is answered with the group's first number: the whole group is listed.
    presenter.promptAnswers = {QStringLiteral("1")};
    QElapsedTimer elapsed;
    elapsed.start();
    const double cpuStart = ThreadCpuSeconds();
    form.Button3Click();
    QApplication::processEvents();
    Figures figures;
    figures.cpuSeconds = ThreadCpuSeconds() - cpuStart;
    figures.seconds = elapsed.nsecsElapsed() / 1e9;
    return figures;
}

// One round on the local news server, for comparison.
bool ListFromNewsServer(TForm1& form, TRecordingPresenter& presenter, const QByteArray& group) {
    if (!OpenConnection(form, 119, group)) {
        return false;
    }
    const Figures raw = RawXover(QStringLiteral("127.0.0.1"), 119, group);
    const double windowSeconds = ListOnce(form, presenter).seconds;
    std::printf("inn raw socket XOVER      %8.3f s  %lld summaries\n", raw.seconds,
                static_cast<long long>(raw.summaries));
    std::printf("inn window List           %8.3f s\n", windowSeconds);
    std::printf("inn window/raw %.2f\n", windowSeconds / raw.seconds);
    form.QRNNTP1->Disconnect();
    return true;
}

// Clock and processor times of the frames. A frame the clock finds slow but the processor
// does not waited: on a busy machine, most often for the threads the raster painter hands
// large fills to (the scroll bar's groove, the pane's background), whose time the processor
// figures of this thread leave out.
struct FrameTimes {
    double worstMs = 0;
    double meanMs = 0;
    double worstCpuMs = 0;
};

// Paints the pane after each step, as the window does when scrolled, and times each frame.
template <typename Step> FrameTimes TimeFrames(TSummaryView* pane, Step step) {
    FrameTimes times;
    QElapsedTimer elapsed;
    for (int frame = 0; frame < kFrames; ++frame) {
        elapsed.start();
        const double cpuStart = ThreadCpuSeconds();
        step();
        pane->viewport()->repaint();
        const double ms = elapsed.nsecsElapsed() / 1e6;
        times.worstMs = std::max(times.worstMs, ms);
        times.worstCpuMs = std::max(times.worstCpuMs, (ThreadCpuSeconds() - cpuStart) * 1e3);
        times.meanMs += ms / kFrames;
    }
    return times;
}

// Keys reach the window only once it is the active one; on X without a window manager
// nobody else makes it so.
void ActivateWindow(QWidget& window) {
    window.activateWindow();
    QElapsedTimer waited;
    waited.start();
    constexpr int kActivationMs = 5000;
    while (!window.isActiveWindow() && waited.elapsed() < kActivationMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// A key pressed and released where the keyboard focus is, as a person types it.
void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
              const QString& text = QString()) {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) {
        std::fprintf(stderr, "no widget has the keyboard focus\n");
        std::exit(1);
    }
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(focus, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(focus, &release);
}

void TypeText(const QString& text) {
    for (const QChar character : text) {
        PressKey(Qt::Key_unknown, Qt::NoModifier, QString(character));
    }
}

void SaveScreenshot(TForm1& form, const QString& directory, const QString& name) {
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    QApplication::processEvents();
    const QString path = QDir(directory).filePath(name);
    if (!form.grab().save(path)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("screenshot %s  (lines %lld-%lld of %lld)\n", qPrintable(path),
                static_cast<long long>(form.Memo4->FirstVisibleLine() + 1),
                static_cast<long long>(form.Memo4->FirstVisibleLine() +
                                       form.Memo4->verticalScrollBar()->pageStep()),
                static_cast<long long>(form.Memo4->LineCount()));
}

// Works the filled summary by keys and saves a picture of the window after each step; answers
// whether the copied lines reached the clipboard and the find text was found.
bool TakeScreenshots(TForm1& form, Tzkfind& find, const QString& directory, const QString& text) {
    QDir().mkpath(directory);
    form.Memo4->setFocus();
    PressKey(Qt::Key_Home, Qt::ControlModifier);
    SaveScreenshot(form, directory, QStringLiteral("1-top.png"));

    while (form.Memo4->FirstVisibleLine() < form.Memo4->LineCount() / 2) {
        PressKey(Qt::Key_PageDown);
    }
    constexpr int kSelectedLines = 4;
    for (int line = 0; line < kSelectedLines; ++line) {
        PressKey(Qt::Key_Down, Qt::ShiftModifier);
    }
    QApplication::clipboard()->clear();
    PressKey(Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    const bool copiedSelection = !copied.isEmpty() && copied == form.Memo4->SelectedText();
    std::printf("clipboard %s:\n%s\n", copiedSelection ? "holds the selection" : "DIFFERS",
                qPrintable(copied));
    SaveScreenshot(form, directory, QStringLiteral("2-middle-copied.png"));

    PressKey(Qt::Key_End, Qt::ControlModifier);
    SaveScreenshot(form, directory, QStringLiteral("3-end.png"));

    // Ctrl+F from the top opens the find box, where the text is typed and confirmed by Enter.
    PressKey(Qt::Key_Home, Qt::ControlModifier);
    // The keys go to the find box once it is shown and holds the focus; a box that never gets
    // the focus is cancelled rather than waited for.
    QTimer typist;
    typist.setInterval(10);
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&typist, &QTimer::timeout, &find, [&find, &typist, &waited, &text] {
        constexpr int kFocusMs = 5000;
        if (!find.isActiveWindow() || !find.isAncestorOf(QApplication::focusWidget())) {
            if (waited.elapsed() > kFocusMs) {
                typist.stop();
                find.reject();
            }
            return;
        }
        typist.stop();
        PressKey(Qt::Key_A, Qt::ControlModifier);
        TypeText(text);
        PressKey(Qt::Key_Return);
    });
    typist.start();
    PressKey(Qt::Key_F, Qt::ControlModifier);
    const bool found = form.Memo4->SelectedText() == text;
    std::printf("find %s %s\n", qPrintable(text), found ? "selected" : "NOT SELECTED");
    SaveScreenshot(form, directory, QStringLiteral("4-found.png"));
    return copiedSelection && found;
}

// Milliseconds from its start until the summary pane first paints with entries in it.
class FirstScreenClock : public QObject {
public:
    explicit FirstScreenClock(TForm1& form) : form_(form) {
        form.Memo4->viewport()->installEventFilter(this);
        elapsed_.start();
    }
    double Ms() const { return ms_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && ms_ < 0 && form_.Memo4->LineCount() > 1) {
            // Measured after the paint: the first screen is on it.
            form_.Memo4->viewport()->removeEventFilter(this);
            QApplication::sendEvent(watched, event);
            ms_ = elapsed_.nsecsElapsed() / 1e6;
            return true;
        }
        return false;
    }

private:
    TForm1& form_;
    QElapsedTimer elapsed_;
    double ms_ = -1;
};

// Double-clicks the group and waits until the window has listed its count summaries, entries
// and scroll range; answers the seconds, or a negative figure when it never did.
double ListStoredOnce(TForm1& form, int count) {
    QElapsedTimer elapsed;
    elapsed.start();
    form.ListBox1DblClick();
    while (form.Memo4->LineCount() < 2 * qint64(count) + 1 ||
           form.Memo4->verticalScrollBar()->maximum() +
                   form.Memo4->verticalScrollBar()->pageStep() <
               form.Memo4->LineCount()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        constexpr qint64 kGiveUpMs = 600000;
        if (elapsed.elapsed() > kGiveUpMs) {
            std::fprintf(stderr, "the stored group was not listed whole\n");
            return -1;
        }
    }
    return elapsed.nsecsElapsed() / 1e9;
}

// The window lists a stored group of count summaries: first screen, whole list, peak memory;
// then, the store's pages read once already, the group listed by number and by thread.
int ListStoredGroup(TForm1& form, quint16 port, int count) {
    const QByteArray group = "zk.test.generated";
    if (!OpenConnection(form, port, group)) {
        return 1;
    }
    const FirstScreenClock firstScreen(form);
    // The listing is complete once every entry is in and the pane's scroll range holds them.
    const double listSeconds = ListStoredOnce(form, count);
    if (listSeconds < 0) {
        return 1;
    }
    QApplication::processEvents();
    const QByteArray millions = QByteArray::number(count / 1e6, 'g', 3) + 'M';
    std::printf("window stored %s first screen MS %.1f\n", millions.constData(), firstScreen.Ms());
    std::printf("window stored %s list S %.3f\n", millions.constData(), listSeconds);
    std::printf("window stored peak memory MIB %.1f\n", PeakMemoryMiB());

    const double byNumberSeconds = ListStoredOnce(form, count);
    // Chosen for the group (which lays the listed entries out at once), then listed again.
    form.ComboBox2->setCurrentIndex(TForm1::kOrderByThread);
    const double byThreadSeconds = ListStoredOnce(form, count);
    if (byNumberSeconds < 0 || byThreadSeconds < 0) {
        return 1;
    }
    std::printf("window stored %s by number list S %.3f\n", millions.constData(), byNumberSeconds);
    std::printf("window stored %s by thread list S %.3f\n", millions.constData(), byThreadSeconds);
    std::printf("window thread/number %s RATIO %.2f\n", millions.constData(),
                byThreadSeconds / byNumberSeconds);
    std::printf("window thread peak memory MIB %.1f\n", PeakMemoryMiB());
    form.QRNNTP1->Disconnect();
    return firstScreen.Ms() >= 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    QString screenshots;
    if (args.size() >= 3 && args[args.size() - 2] == QStringLiteral("--screenshots")) {
        screenshots = args.takeLast();
        args.removeLast();
    }
    const bool stored = args.value(1) == QStringLiteral("--stored");
    QTemporaryDir storeDir;
    const QString storePath = storeDir.filePath(QStringLiteral("news.db"));
    // The window's store: the filled one, or one of this run's own that the listing fills.
    qputenv("ZKNEWS_STORE", QFile::encodeName(storePath));
    // Before any thread of this process exists.
    const quint16 port = StartReplayProcess(args, stored ? storePath : QString());
    const QByteArray group = args.value(1) == QStringLiteral("--generate")
                                 ? QByteArrayLiteral("zk.test.generated")
                                 : args.value(1, QStringLiteral("zk.test.big")).toLatin1();
    QApplication application(argc, argv);

    TRecordingPresenter presenter;
    TForm1 form;
    Tzkfind find(&form);
    form.zkfind = &find;
    form.Timer1->stop();
    form.show();
    ActivateWindow(form);
    if (stored) {
        // The start-up the timer would run, which opens the store.
        form.Timer1Timer();
        return ListStoredGroup(form, port, args.value(2).toInt());
    }
    const QString host = QStringLiteral("127.0.0.1");
    if (args.value(1) != QStringLiteral("--generate")) {
        if (!ListFromNewsServer(form, presenter, group)) {
            return 1;
        }
    }
    // The replay server serves one connection at a time: the raw reads go first.
    Figures raw;
    for (int round = 0; round < kRounds; ++round) {
        const Figures rawRound = RawXover(host, port, group);
        if (round == 0 || rawRound.seconds < raw.seconds) {
            raw.seconds = rawRound.seconds;
            raw.summaries = rawRound.summaries;
            raw.bytes = rawRound.bytes;
        }
        if (round == 0 || rawRound.cpuSeconds < raw.cpuSeconds) {
            raw.cpuSeconds = rawRound.cpuSeconds;
        }
    }
    if (!OpenConnection(form, port, group)) {
        return 1;
    }
    Figures window;
    for (int round = 0; round < kRounds; ++round) {
        const Figures windowRound = ListOnce(form, presenter);
        if (round == 0 || windowRound.seconds < window.seconds) {
            window.seconds = windowRound.seconds;
        }
        if (round == 0 || windowRound.cpuSeconds < window.cpuSeconds) {
            window.cpuSeconds = windowRound.cpuSeconds;
        }
    }
    const qint64 lines = form.Memo4->LineCount();
    std::printf("replay raw socket XOVER   %8.3f s  %lld summaries, %.1f MB\n", raw.seconds,
                static_cast<long long>(raw.summaries), raw.bytes / 1e6);
    std::printf("replay window List        %8.3f s  %lld summary lines\n", window.seconds,
                static_cast<long long>(lines));
    std::printf("replay window/raw %.2f\n", window.seconds / raw.seconds);
    std::printf("replay window/raw cpu %.2f   (%.3f s / %.3f s)\n",
                window.cpuSeconds / raw.cpuSeconds, window.cpuSeconds, raw.cpuSeconds);
    std::printf("replay peak memory MiB %.1f\n", PeakMemoryMiB());

    // F3 from the top of the summary to the one entry that carries this number.
    const QString lastMark = u'[' + QString::number(raw.summaries) + u']';
    find.fndtxt->setEditText(lastMark);
    form.Memo4->SetCaret(0);
    presenter.infos.clear();
    QElapsedTimer elapsed;
    elapsed.start();
    form.FindInSummary();
    const double searchMs = elapsed.nsecsElapsed() / 1e6;
    const bool found = presenter.infos.isEmpty() && form.Memo4->SelectedText() == lastMark;
    std::printf("replay F3 %.2f %s\n", searchMs, found ? "found" : "NOT FOUND");

    // Wheel notches from the top, then Page Down from the top, each frame painted.
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    form.Memo4->setFocus();
    QScrollBar* bar = form.Memo4->verticalScrollBar();
    bar->setValue(0);
    const FrameTimes scroll =
        TimeFrames(form.Memo4, [bar] { bar->setValue(bar->value() + kWheelLines); });
    form.Memo4->SetCaret(0);
    const FrameTimes page = TimeFrames(form.Memo4, [] { PressKey(Qt::Key_PageDown); });
    std::printf("replay scroll frame %.3f (mean %.3f ms)\n", scroll.worstMs, scroll.meanMs);
    std::printf("replay page frame %.3f (mean %.3f ms)\n", page.worstMs, page.meanMs);
    std::printf("replay scroll frame cpu %.3f ms\n", scroll.worstCpuMs);
    std::printf("replay page frame cpu %.3f ms\n", page.worstCpuMs);
    // An entry a hundred from the end: its number in brackets is nowhere else.
    const bool worked =
        screenshots.isEmpty() ||
        TakeScreenshots(form, find, screenshots,
                        u'[' + QString::number(std::max<qint64>(1, raw.summaries - 100)) + u']');
    form.QRNNTP1->Disconnect();
    return lines >= 2 * raw.summaries && found && worked ? 0 : 1;
}
