#include "AboutView.h"

#include "AppPresenter.h"
#include "Localized.h"
#include "MainBundle.h"
#include "MakerAddresses.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

AboutView::AboutView(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint), m_defaults(defaults)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    m_image.load(MainBundle::pathForResource(QStringLiteral("aboutbox"), QStringLiteral("png"),
                                             QStringLiteral("images")));
    setFixedSize(m_image.isNull() ? QSize(480, 170) : m_image.size());
}

QString AboutView::version()
{
#ifdef QM_VERSION
    return QStringLiteral(QM_VERSION);
#else
    return QString();
#endif
}

bool AboutView::openWebSite(QWidget* parent)
{
    const QString site = MakerAddresses::current().webSite;
    if (site.isEmpty()) {
        AppPresenter::showAlert({L("No Web Site"),
                                 L("This build of Quillmarch has no web site address: it is set when the program "
                                   "is built."),
                                 {}, {}, {}},
                                parent);
        return false;
    }
    return AppPresenter::openUrl(QUrl(site));
}

QString AboutView::convertedText() const
{
    const qulonglong count = qulonglong(m_defaults.integerForKey(PreferenceKeys::kNumberOfFilesEverConverted));
    return L("You converted a total of %1 files.").arg(count);
}

void AboutView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!m_image.isNull())
        painter.drawImage(0, 0, m_image);
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSize(9);
    painter.setFont(font);
    // Positions from the bottom-left corner, as the picture is laid out.
    painter.setPen(QColor::fromRgbF(0.1484375f, 0.58984375f, 0.8515625f));
    painter.drawText(QPointF(420, height() - 152), version());
    painter.setPen(QColor::fromRgbF(0.234375f, 0.3203125f, 0.37109375f));
    painter.drawText(QPointF(215, height() - 4), convertedText());
    // The maker's web site, when the build has one: blue, underlined, a
    // link.
    const QString site = MakerAddresses::current().webSite;
    if (site.isEmpty())
        return;
    font.setUnderline(true);
    painter.setFont(font);
    painter.setPen(QColor(Qt::blue));
    painter.drawText(webSiteRect(), Qt::AlignLeft | Qt::AlignVCenter, site);
}

QRect AboutView::webSiteRect() const
{
    QFont font = this->font();
    font.setBold(true);
    font.setPointSize(9);
    const QFontMetrics metrics(font);
    const QString site = MakerAddresses::current().webSite;
    if (site.isEmpty())
        return QRect();
    const int width = metrics.horizontalAdvance(site) + 2;
    return QRect(215, height() - 22 - metrics.height(), width, metrics.height() + 2);
}

void AboutView::mousePressEvent(QMouseEvent* event)
{
    // A click on the address opens it; any other click closes the box.
    if (event && webSiteRect().contains(event->position().toPoint())) {
        openWebSite(this);
        return;
    }
    close();
}
