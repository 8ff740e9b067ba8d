#include "store/storepath.h"

#include "store/storeerror.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString DataHome() {
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) {
        return configured;
    }
    return QDir::homePath() + QStringLiteral("/.local/share");
}

} // namespace

QString NewsStorePath() {
    QString path = qEnvironmentVariable("ZKNEWS_STORE");
    if (path.isEmpty()) {
        path = DataHome() + QStringLiteral("/zknews/news.db");
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw EStoreError(
            QStringLiteral("The folder %1 for the news store cannot be created").arg(folder));
    }
    return path;
}
