#include "bext_origin.h"

#include <QLocale>

BextOrigin BextOrigin::At(const QDateTime& when)
{
    BextOrigin origin;
    origin.originator = QByteArrayLiteral("Quillmarch");
    origin.reference = QByteArrayLiteral("OriginatorReference");
    origin.date = QLocale::c().toString(when, QStringLiteral("yyyy-MM-dd")).toLatin1();
    origin.time = QLocale::c().toString(when, QStringLiteral("HH:mm:ss")).toLatin1();
    return origin;
}
