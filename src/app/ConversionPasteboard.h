// Conversions on the clipboard and in drags, between conversion tables and
// other programs: the plain-text type carrying an XML property list, an
// array of conversion dictionaries (ConvSpec::dictionary, the name under
// "QMCSName").
//
// A drop is offered when the payload is such an array whose first element
// is a dictionary with a "QMCSName" that is not a listed name.  Whatever is
// dropped is then read like a loaded list: every dictionary becomes a
// ConvSpec (safe folder name, a 256-byte "oldData" block) and the
// controller gives names that are taken a free one.
#pragma once

#include "ConvSpec.h"

#include <QList>
#include <QStringList>
#include <QVariantList>

class QMimeData;

class ConversionPasteboard {
public:
    static const QString kMimeType;  // "text/plain"

    // The payload of `conversions` (the caller owns the result).
    static QMimeData* mimeData(const QList<ConvSpecRef>& conversions);
    // The XML property list itself.
    static QByteArray encode(const QList<ConvSpecRef>& conversions);
    // The dictionaries of a payload (elements that are not dictionaries are
    // passed over); empty when it holds no such array.
    static QVariantList dictionaries(const QMimeData* data);
    static bool acceptsDrop(const QMimeData* data, const QStringList& listedNames);
};
