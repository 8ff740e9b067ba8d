// ZK News Reader: the main window, then the prompt dialog, then the find dialog, and the event
// loop until the main window closes.
//
//   zknews [HOST]     HOST is put into the host box once the start-up step has loaded the
//                     settings, ready for Connect.
#include "search/zkfnddlg.h"
#include "ui/unit1.h"
#include "util/dialogpresenter.h"
#include "util/zkgrabstr.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

namespace {

// The application's own display of an error that escaped the window.
void ShowStartError(const QString& message) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), message);
}

int RunReader(const QString& host) {
    TForm1 form;
    if (!host.isEmpty()) {
        // Connected after the window's own start-up step, which fills the host box first.
        QObject::connect(form.Timer1, &QTimer::timeout, &form,
                         [&form, host] { form.Edit1->setCurrentText(host); });
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
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zknews"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZK News Reader"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ZK News Reader, a Usenet news reader."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("host"),
                                 QStringLiteral("The news server to put into the host box."),
                                 QStringLiteral("[host]"));
    parser.process(application);
    try {
        RunReader(parser.positionalArguments().value(0));
    } catch (const std::exception& error) {
        ShowStartError(QString::fromLocal8Bit(error.what()));
    }
    return 0;
}
