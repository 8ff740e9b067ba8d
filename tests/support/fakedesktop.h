#pragma once

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <utility>
#include <vector>

// Points the XDG directories at a private tree for the test's lifetime; the system's data
// directories stay searchable for the MIME database, behind the private ones.
class TFakeDesktop {
public:
    TFakeDesktop() {
        Save("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")));
        Save("XDG_CONFIG_DIRS", root.filePath(QStringLiteral("etc")));
        Save("XDG_DATA_HOME", root.filePath(QStringLiteral("data")));
        Save("XDG_DATA_DIRS", root.filePath(QStringLiteral("share")) +
                                  QStringLiteral(":/usr/local/share:/usr/share"));
        Save("XDG_CURRENT_DESKTOP", QString());
        QDir(root.path()).mkpath(QStringLiteral("config"));
        QDir(root.path()).mkpath(QStringLiteral("data/applications"));
        QDir(root.path()).mkpath(QStringLiteral("bin"));
    }
    ~TFakeDesktop() {
        for (const auto& [name, value] : saved) {
            if (value) {
                qputenv(name, *value);
            } else {
                qunsetenv(name);
            }
        }
    }

    void SetDefaults(const QByteArray& lines) {
        WriteFile(root.filePath(QStringLiteral("config/mimeapps.list")),
                  "[Default Applications]\n" + lines);
    }
    void AddEntry(const QString& desktopId, const QByteArray& body) {
        WriteFile(root.filePath(QStringLiteral("data/applications/") + desktopId),
                  "[Desktop Entry]\n" + body);
    }
    // An executable script in the private tree.
    QString AddProgram(const QString& name, const QByteArray& script) {
        const QString path = root.filePath(QStringLiteral("bin/") + name);
        WriteFile(path, "#!/bin/sh\n" + script);
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
        return path;
    }

    QTemporaryDir root;

private:
    void Save(const char* name, const QString& value) {
        saved.push_back({name, qEnvironmentVariableIsSet(name)
                                   ? std::optional<QByteArray>(qgetenv(name))
                                   : std::nullopt});
        qputenv(name, value.toUtf8());
    }

    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved;
};
