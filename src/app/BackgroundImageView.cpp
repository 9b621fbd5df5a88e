#include "BackgroundImageView.h"

#include <QPainter>

BackgroundImageView::BackgroundImageView(QWidget* parent) : QWidget(parent) {}

void BackgroundImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void BackgroundImageView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull() || m_image.height() <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(0.1);
    const double width = double(m_image.width()) * height() / m_image.height();
    const QRectF target(rect().right() + 1 - width, 0, width, height());
    painter.drawImage(target, m_image);
}
