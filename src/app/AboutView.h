// The about box: a borderless window showing the picture "aboutbox", the
// program's version and how many files the user has converted; a click
// closes it.
#pragma once

#include <QImage>
#include <QWidget>

class UserDefaults;

class AboutView : public QWidget {
    Q_OBJECT
public:
    AboutView(UserDefaults& defaults, QWidget* parent = nullptr);
    static QString version();
    // "You converted a total of %qu files." with the stored count.
    QString convertedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    UserDefaults& m_defaults;
    QImage m_image;
};
