#include "device/paths.h"

namespace device {
namespace {

bool isSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

} // namespace

QString folderOfPath(const QString &path)
{
    for (qsizetype i = path.size(); i > 0; --i) {
        if (isSeparator(path[i - 1]))
            return path.left(i);
    }
    return {};
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || isSeparator(folder.back()))
        return folder + name;
#ifdef Q_OS_WIN
    return folder + u'\\' + name;
#else
    return folder + u'/' + name;
#endif
}

} // namespace device
