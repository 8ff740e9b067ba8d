// ZK News Reader: the main window, then the prompt dialog, then the find dialog, and the event
// loop until the main window closes.
#include "search/zkfnddlg.h"
#include "ui/unit1.h"
#include "util/dialogpresenter.h"
#include "util/zkgrabstr.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// The application's own display of an error that escaped the window.
void ShowStartError(const QString& message) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), message);
}

int RunReader() {
    TForm1 form;
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
    try {
        RunReader();
    } catch (const std::exception& error) {
        ShowStartError(QString::fromLocal8Bit(error.what()));
    }
    return 0;
}
