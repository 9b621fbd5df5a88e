#include "ConvNameFormatter.h"

#include "ConvSpec.h"

namespace {

// Bytes of the UTF-8 form of one code point (a lone surrogate is written
// as U+FFFD: three bytes).
int Utf8Length(char32_t codePoint)
{
    if (codePoint < 0x80)
        return 1;
    if (codePoint < 0x800)
        return 2;
    if (codePoint < 0x10000)
        return 3;
    return 4;
}

// The longest start of `text` whose UTF-8 form has at most `maxBytes`
// bytes, cut between code points.
QString CutToUtf8Bytes(const QString& text, int maxBytes)
{
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype units = 1;
        char32_t codePoint = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        } else if (text[i].isSurrogate()) {
            codePoint = 0xFFFD;
        }
        const int length = Utf8Length(codePoint);
        if (bytes + length > maxBytes)
            break;
        bytes += length;
        i += units;
    }
    return i == text.size() ? text : text.left(i);
}

} // namespace

QString ConvNameFormatter::stringForObjectValue(const QVariant& value) const
{
    if (value.typeId() != QMetaType::QString)
        return QString();
    QString name = value.toString();
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':') || c.unicode() == 0)
            name[i] = QLatin1Char('-');
    }
    if (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    name = CutToUtf8Bytes(name, kMaxNameBytes);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = ConvSpec::defaultConversionName();
    return name;
}

bool ConvNameFormatter::getObjectValue(QVariant* object, const QString& string, QString* error) const
{
    if (object)
        *object = QString(string);
    return true;
}
