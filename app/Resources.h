// The application's resources folder: share/tessarin beside the program's bin/, in the build tree
// as after installation.
#pragma once

#include <QString>

namespace tessarin {

QString applicationResourcesDirectory();

// The path of a resource file in `directory`, or an empty text when there is no such file.
QString urlForResource(const QString& directory, const QString& name, const QString& extension);

}  // namespace tessarin
