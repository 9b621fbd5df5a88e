// The about box: a borderless window showing the picture "aboutbox", the
// program's version, how many files the user has converted and the maker's
// web site as a link; a click on the link opens it, any other click
// closes the box.
#pragma once

#include <QImage>
#include <QWidget>

class UserDefaults;

class AboutView : public QWidget {
    Q_OBJECT
public:
    AboutView(UserDefaults& defaults, QWidget* parent = nullptr);
    static QString version();
    // Opens the maker's web site (MakerAddresses); a build without one
    // says so.  False when nothing was opened.
    static bool openWebSite(QWidget* parent = nullptr);
    // "You converted a total of %qu files." with the stored count.
    QString convertedText() const;
    // Where the web-site link is drawn.
    QRect webSiteRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    UserDefaults& m_defaults;
    QImage m_image;
};
