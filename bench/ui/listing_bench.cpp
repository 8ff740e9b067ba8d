// Lists 100,000 article summaries into the shown main window the way the news client reports
// them (one header-list event per article), and prints entries per second; then the same with a
// synchronous paint of the number field and the status bar per entry, for comparison, over
// fewer entries. Finally times Get Article # refusing a number that a 100,000-entry summary
// lacks (the presence test reads the whole summary).
#include "search/zkfnddlg.h"
#include "ui/unit1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <cstdio>

namespace {

constexpr int kEntries = 100000;
constexpr int kPaintedEntries = 2000;
constexpr int kRefusals = 20;

void ReportSummary(TForm1& form, int number) {
    TExStringList& header = form.QRNNTP1->HeaderLines;
    header.Clear();
    header.Add("Artid: " + QByteArray::number(number));
    header.Add("Subject: Re: build fails on ARM with the new driver patches (again)");
    header.Add("From: Carol Jones <user" + QByteArray::number(number % 1000) + "@example.com>");
    form.QRNNTP1HeaderList(form.QRNNTP1);
}

// Entries per second for count summaries, painting the changed fields after each when asked.
double List(TForm1& form, int count, bool paintEach) {
    form.Memo4->clear();
    QElapsedTimer elapsed;
    elapsed.start();
    for (int n = 1; n <= count; ++n) {
        ReportSummary(form, n);
        if (paintEach) {
            form.Edit7->repaint();
            form.StatusBar1->repaint();
        }
    }
    QApplication::processEvents();
    return count * 1000.0 / std::max<qint64>(1, elapsed.elapsed());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    TForm1 form;
    Tzkfind find(&form);
    form.zkfind = &find;
    form.Timer1->stop();
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    QApplication::processEvents();

    const double painted = List(form, kPaintedEntries, true);
    const double listed = List(form, kEntries, false);
    std::printf("listing %d summaries: %.0f entries/s (%.2f s)\n", kEntries, listed,
                kEntries / listed);
    std::printf("with a paint per entry (%d summaries): %.0f entries/s, %.1fx slower\n",
                kPaintedEntries, painted, listed / painted);

    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < kRefusals; ++i) {
        form.Edit7->setText(QString::number(kEntries + 1 + i));
        form.Button4Click();
    }
    std::printf("Get Article # refusing a number absent from %d entries: %.1f ms each\n", kEntries,
                static_cast<double>(elapsed.elapsed()) / kRefusals);
    return 0;
}
