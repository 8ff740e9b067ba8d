#include "store/storepath.h"

#include "store/storeerror.h"
#include "util/filehelpers.h"

#include <QDir>
#include <QFileInfo>

QString NewsStorePath() {
    QString path = qEnvironmentVariable("ZKNEWS_STORE");
    if (path.isEmpty()) {
        path = UserDataDir() + QStringLiteral("news.db");
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw EStoreError(
            QStringLiteral("The folder %1 for the news store cannot be created").arg(folder));
    }
    return path;
}
