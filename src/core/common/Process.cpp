#include "Process.h"

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

namespace tulmo {

void prepareProcess() {
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsEmpty("TZ")) {
        qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
        tzset();
    }
#endif
}

} // namespace tulmo
