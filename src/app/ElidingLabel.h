// A one-line label that shows as much of its text as its width allows,
// eliding in the middle (the start and the end of a path stay readable).
// text() is always the whole text; displayedText() is what is drawn.
#pragma once

#include <QLabel>

class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget* parent = nullptr);

    QString displayedText() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
