// The start-up check of the external MP3 encoder ("lame"): found on PATH
// or in the usual places, its version compared component by component
// with the oldest usable one (3.100 is newer than 3.93).  Too old an
// encoder gives an alert; MP3 output ('DMP3') is offered only with a usable
// one.
//
// Reading an encoder's version belongs to the MP3 output itself; it plugs
// in here through setVersionProbe.  Without a probe no encoder counts as
// usable and nothing is shown.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

class EncoderCheck {
public:
    using VersionProbe = std::function<std::optional<QString>(const QString& encoderPath)>;

    // "3.93"
    static QString minimumVersion();

    // -1, 0 or 1: `a` older than, as new as or newer than `b`, comparing
    // the dot-separated numbers one by one (missing components count as 0;
    // a component's leading digits are its number, "100b2" is 100).
    static int compareVersions(const QString& a, const QString& b);

    // The encoder's path: "lame" on PATH, else in /usr/local/bin,
    // /opt/local/bin or /usr/bin; empty when there is none.
    static QString findEncoder();

    static void setVersionProbe(VersionProbe probe);

    // The whole check: finds the encoder, asks the probe for its version,
    // alerts over `parent` when it is too old, and marks 'DMP3' writable
    // exactly when the encoder is usable.  Returns that.
    static bool run(QWidget* parent = nullptr);
};
