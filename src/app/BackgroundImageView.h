// A view that draws a picture faintly behind its children: scaled to the
// view's height with its aspect kept, aligned to the right edge, at 10 %
// opacity.  Without a picture it draws nothing.
#pragma once

#include <QImage>
#include <QWidget>

class BackgroundImageView : public QWidget {
    Q_OBJECT
public:
    explicit BackgroundImageView(QWidget* parent = nullptr);
    const QImage& image() const { return m_image; }
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};
