// What a Broadcast Wave output says of its making in its 'bext' chunk, the
// same for every Broadcast Wave type this program writes: Originator (the
// program), OriginatorReference, OriginationDate ("yyyy-mm-dd") and
// OriginationTime ("hh:mm:ss"), local time.  Fixed when the output is
// created, so a header rewritten at close says the same.
#pragma once

#include <QByteArray>
#include <QDateTime>

struct BextOrigin {
    QByteArray originator;
    QByteArray reference;
    QByteArray date;
    QByteArray time;

    static BextOrigin At(const QDateTime& when);
    static BextOrigin Now() { return At(QDateTime::currentDateTime()); }
};
