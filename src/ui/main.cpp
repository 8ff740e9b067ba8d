// ZK News Reader: the main window, then the prompt dialog, then the find dialog, and the event
// loop until the main window closes.
//
//   zknews [HOST]     HOST is put into the host box once the start-up step has loaded the
//                     settings, ready for Connect.
//   zknews URL        a news: or nntp: URL (a browser's link): once the start-up step is done,
//                     the window connects and opens the article or group it names.
//   zknews --help     the usage text, without a window.
#include "search/zkfnddlg.h"
#include "ui/unit1.h"
#include "util/dialogpresenter.h"
#include "util/zkgrabstr.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <string_view>

namespace {

constexpr char kUsage[] =
    "usage: zknews [HOST | URL]\n"
    "\n"
    "ZK News Reader, a Usenet news reader. Opens the reader's window; HOST, the\n"
    "news server, is put into the host box, ready for Connect. A URL connects\n"
    "and opens what it names:\n"
    "  news:<id>  news:id@host      the article of that Message-ID\n"
    "  news:group.name              the group, listed\n"
    "  nntp://host[:port]/group/N   article N of the group on that server\n"
    "A URL's host other than the settings' one is reached on the URL's port\n"
    "(119 unless given) without TLS.\n"
    "\n"
    "  -h, --help   this text\n"
    "\n"
    "Settings: ~/.config/zknews/ for an installed reader, else beside the program\n"
    "(man zknews).\n";

// Answered before the application object exists, which needs a display: the usage text is
// there in a terminal without one.
bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            return true;
        }
    }
    return false;
}

// The application's own display of an error that escaped the window.
void ShowStartError(const QString& message) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), message);
}

int RunReader(const QString& argument) {
    TForm1 form;
    const QByteArray url = argument.toUtf8();
    if (nntpwire::IsNewsUrl(url)) {
        // Once the start-up step has filled the connection fields, and the window shows.
        QObject::connect(form.Timer1, &QTimer::timeout, &form, [&form, url] {
            QTimer::singleShot(0, &form, [&form, url] { form.OpenUrl(url); });
        });
    } else if (!argument.isEmpty()) {
        // Connected after the window's own start-up step, which fills the host box first.
        QObject::connect(form.Timer1, &QTimer::timeout, &form,
                         [&form, argument] { form.Edit1->setCurrentText(argument); });
    }
    Tzkgrabstr zkgrabstr(&form);
    TDialogPresenter presenter(zkgrabstr);
    InstallPresenter(&presenter);
    Tzkfind zkfind(&form);
    form.zkfind = &zkfind;
    form.show();
    const int result = QApplication::exec();
    InstallPresenter(nullptr);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zknews"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZK News Reader"));
    // Ties the window to its menu entry and icon on desktops that match them by name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.zknews.ZKNewsReader"));
    // Refuses unknown options; the usage text is kUsage.
    QCommandLineParser parser;
    parser.process(application);
    try {
        RunReader(parser.positionalArguments().value(0));
    } catch (const std::exception& error) {
        ShowStartError(QString::fromLocal8Bit(error.what()));
    }
    return 0;
}
