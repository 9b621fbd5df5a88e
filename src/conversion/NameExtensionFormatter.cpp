#include "NameExtensionFormatter.h"

QString NameExtensionFormatter::stringForObjectValue(const QVariant& value) const
{
    if (value.typeId() != QMetaType::QString)
        return QString();
    const QString extension = value.toString();
    if (extension.startsWith(QLatin1Char('.')))
        return extension;
    return QLatin1Char('.') + extension;
}

bool NameExtensionFormatter::getObjectValue(QVariant* object, const QString& string, QString* error) const
{
    if (object)
        *object = storedExtension(string);
    return true;
}

QString NameExtensionFormatter::storedExtension(const QString& string)
{
    QString extension = string.startsWith(QLatin1Char('.')) ? string.mid(1) : string;
    for (qsizetype i = 0; i < extension.size(); ++i) {
        if (extension[i] == QLatin1Char('/') || extension[i].unicode() == 0)
            extension[i] = QLatin1Char('-');
    }
    return extension;
}
