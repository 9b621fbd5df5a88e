#include "ConversionPasteboard.h"

#include "PropertyList.h"

#include <QMimeData>

const QString ConversionPasteboard::kMimeType = QStringLiteral("text/plain");

namespace {
// Larger texts are no conversion list (and are not parsed).
constexpr qsizetype kMaxPayload = 16 * 1024 * 1024;
}

QByteArray ConversionPasteboard::encode(const QList<ConvSpecRef>& conversions)
{
    QVariantList array;
    for (const ConvSpecRef& spec : conversions)
        array.append(spec->dictionary());
    return PropertyList::toXml(array);
}

QMimeData* ConversionPasteboard::mimeData(const QList<ConvSpecRef>& conversions)
{
    auto* data = new QMimeData;
    data->setData(kMimeType, encode(conversions));
    return data;
}

QVariantList ConversionPasteboard::dictionaries(const QMimeData* data)
{
    if (!data || !data->hasFormat(kMimeType))
        return {};
    const QByteArray bytes = data->data(kMimeType);
    if (bytes.isEmpty() || bytes.size() > kMaxPayload)
        return {};
    const QVariant root = PropertyList::fromData(bytes);
    if (root.typeId() != QMetaType::QVariantList)
        return {};
    QVariantList result;
    for (const QVariant& item : root.toList())
        if (item.typeId() == QMetaType::QVariantMap)
            result.append(item);
    return result;
}

bool ConversionPasteboard::acceptsDrop(const QMimeData* data, const QStringList& listedNames)
{
    if (!data || !data->hasFormat(kMimeType))
        return false;
    const QByteArray bytes = data->data(kMimeType);
    if (bytes.isEmpty() || bytes.size() > kMaxPayload)
        return false;
    const QVariant root = PropertyList::fromData(bytes);
    if (root.typeId() != QMetaType::QVariantList || root.toList().isEmpty())
        return false;
    const QVariant first = root.toList().constFirst();
    if (first.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariant name = first.toMap().value(ConvSpec::kConversionNameKey);
    return name.typeId() == QMetaType::QString && !listedNames.contains(name.toString());
}
