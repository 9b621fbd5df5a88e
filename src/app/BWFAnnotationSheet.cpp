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
    return ConvSpec::blockForAnnotation(text, previous);
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
