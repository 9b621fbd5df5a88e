// One posted notification: its name, the payload object and the poster.
#pragma once

#include <QString>
#include <QVariant>

struct Notification {
    QString name;
    // The payload; every value the program posts travels here (there is no
    // separate user-info dictionary).
    QVariant object;
    // Who posted it, or null.  Observers registered with a sender filter only
    // see notifications whose sender is that pointer.
    const void* sender = nullptr;
};
