#include "util/launchtext.h"

#include "util/launch.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

void LaunchText(const QString& text) {
    if (text.trimmed().isEmpty()) {
        return;
    }
    const std::optional<QString> extension = LookupExtension(text);
    QStringList command;
    if (extension) {
        command = FindAssociatedProgram(*extension);
    }
    const QString argument = LaunchArgument(text);
    if (!command.isEmpty()) {
        const QString program = command.takeFirst();
        RunProgram(program, command << argument, false);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromUserInput(argument, QDir::currentPath()));
}
