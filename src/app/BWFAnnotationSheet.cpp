#include "BWFAnnotationSheet.h"

#include "Localized.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

BWFAnnotationSheet::BWFAnnotationSheet(QWidget* parent)
    : OptionSheet(parent, L("Broadcast Wave Annotation"))
{
    body()->addWidget(new QLabel(L("Annotation:"), this));
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("annotationTextView"));
    body()->addWidget(m_text);
}

QByteArray BWFAnnotationSheet::blockForAnnotation(const QString& text, const unsigned char* previous)
{
    QByteArray block(ConvSpec::kFileTypeSpecificsSize, '\0');
    // What the block holds before the text (the MPEG stereo mode of
    // compressed Broadcast Wave) stays.
    if (previous)
        std::copy_n(previous, kAnnotationOffset, block.data());
    const QByteArray utf8 = text.toUtf8();
    qsizetype length = std::min<qsizetype>(utf8.size(), kMaxAnnotationBytes);
    // Never end inside a character: back off continuation bytes.
    while (length > 0 && length < utf8.size() && (quint8(utf8[length]) & 0xC0) == 0x80)
        --length;
    std::copy_n(utf8.constData(), length, block.data() + kAnnotationOffset);
    return block;
}

QString BWFAnnotationSheet::annotationInBlock(const unsigned char* block)
{
    const char* text = reinterpret_cast<const char*>(block + kAnnotationOffset);
    qsizetype length = 0;
    while (length < ConvSpec::kFileTypeSpecificsSize - kAnnotationOffset && text[length] != 0)
        ++length;
    return QString::fromUtf8(text, length);
}

void BWFAnnotationSheet::load()
{
    const ConvSpecRef& spec = convSpec();
    const QVariant stored = spec->specificsValue(ConvSpec::kAnnotationTextKey);
    if (stored.isValid())
        m_text->setPlainText(stored.toString());
    else
        m_text->setPlainText(annotationInBlock(spec->fileTypeSpecifics()));
}

void BWFAnnotationSheet::store()
{
    const ConvSpecRef& spec = convSpec();
    const QString text = m_text->toPlainText();
    spec->setSpecificsValue(ConvSpec::kAnnotationTextKey, text);
    spec->setFileTypeSpecifics(reinterpret_cast<const unsigned char*>(blockForAnnotation(text, spec->fileTypeSpecifics()).constData()));
    emit specificsConfirmed();
}
