// The annotation of Broadcast Wave output.  The text is kept whole under
// "AnnotationText" and as the writer reads it: in the 256-byte per-type
// block from byte 22, UTF-8, at most 233 bytes cut on a character
// boundary and always followed by a zero byte.
#pragma once

#include "ConvSpec.h"
#include "OptionSheet.h"

#include <QByteArray>

class QPlainTextEdit;

class BWFAnnotationSheet : public OptionSheet {
    Q_OBJECT
public:
    // Where the text starts in the per-type block, and its longest length.
    static constexpr int kAnnotationOffset = ConvSpec::kAnnotationOffset;
    static constexpr int kMaxAnnotationBytes = ConvSpec::kMaxAnnotationBytes;

    explicit BWFAnnotationSheet(QWidget* parent);
    QPlainTextEdit* annotationTextView() const { return m_text; }

    // The block that holds `text`: the bytes before the offset from
    // `previous` (zeros when null), then the text, then zeros.
    static QByteArray blockForAnnotation(const QString& text, const unsigned char* previous = nullptr);
    // The text such a block holds.
    static QString annotationInBlock(const unsigned char* block);

protected:
    void load() override;
    void store() override;

private:
    QPlainTextEdit* m_text;
};
