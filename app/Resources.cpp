// Finds resources relative to the running program, never through the environment.
#include "Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tessarin {

QString applicationResourcesDirectory() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tessarin"));
}

QString urlForResource(const QString& directory, const QString& name, const QString& extension) {
    const QFileInfo file(QDir(directory).filePath(name + QLatin1Char('.') + extension));
    return file.isFile() ? file.absoluteFilePath() : QString();
}

}  // namespace tessarin
