#include "assets/Assets.h"

#include <QFile>

namespace harvix {

QByteArray aviResource(const QString& name) {
    // Names are plain words; anything with a path separator cannot name one of ours.
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    QFile file(QStringLiteral(":/harvix/") + name + QStringLiteral(".avi"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace harvix
