#include "SoundFileInfoViewController.h"

#include "ByteFormatter.h"
#include "FileOperations.h"
#include "Localized.h"
#include "MainBundle.h"
#include "PropertyList.h"
#include "ZuSoundFile.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextOption>

namespace {

// Readers of the file's metadata (GetExtraInfo) by name, with the key the
// metadata reader gives them under.
struct MetadataName {
    const char* name;
    const char* key;
};
constexpr MetadataName kMetadataNames[] = {
    {"title", "title"},   {"artist", "artist"},           {"album", "album"},       {"year", "year"},
    {"genre", "genre"},   {"trackNumber", "track number"}, {"comments", "comments"}, {"composer", "composer"},
};

// The readers of the input model that the view may name.
constexpr const char* kModelNames[] = {
    "descriptor",       "displaySampleRate", "displayChannels", "displayWordSize",       "displayBits",
    "displayBitRate",   "displayRegions",    "displayMarkers",  "displayLoops",          "displaySize",
    "displayHFSType",   "displayHFSCreator", "displayCreationDate", "displayModificationDate",
    "displayPermissions", "lengthStr",       "timestamps",      "name",                  "path",
};

} // namespace

SoundFileInfoViewController::SoundFileInfoViewController(QObject* parent) : QObject(parent)
{
    QFont font = QApplication::font();
    font.setPointSizeF(11.0);
    m_textFormat.setFont(font);
    // On the view's own background: no band of colour behind the text.
    m_textFormat.setForeground(QColor::fromHsvF(0.0f, 0.0f, 0.2f, 1.0f));
    m_labelFormat = m_textFormat;
    QFont bold = font;
    bold.setBold(true);
    m_labelFormat.setFont(bold);
    m_labelFormat.setForeground(QColor(Qt::black));

    const QVariant list = PropertyList::fromFile(
        MainBundle::pathForResource(QStringLiteral("attributes"), QStringLiteral("plist")));
    m_attributes = list.toList();

    m_view = new QTextEdit;
    m_view->setReadOnly(true);
    m_view->setObjectName(QStringLiteral("infoTextView"));
    // A sound file's usual attributes (a dozen lines) without scrolling.
    m_view->setMinimumHeight(QFontMetrics(m_labelFormat.font()).lineSpacing() * 13 + 12);
}

SoundFileInfoViewController::~SoundFileInfoViewController()
{
    if (m_view && !m_view->parent())
        delete m_view.data();
}

void SoundFileInfoViewController::attachTo(QFileDialog* panel)
{
    if (!panel || !m_view)
        return;
    // The panel is Qt's own: its grid takes the view as a last row.
    if (auto* grid = qobject_cast<QGridLayout*>(panel->layout()))
        grid->addWidget(m_view, grid->rowCount(), 0, 1, grid->columnCount());
    else
        m_view->setParent(panel);
    connect(panel, &QFileDialog::currentChanged, this, &SoundFileInfoViewController::showPath);
    showPath(QString());
}

void SoundFileInfoViewController::showPath(const QString& path)
{
    QList<std::shared_ptr<ZuSoundFile>> list;
    PathStatus status;
    if (!path.isEmpty() && StatPath(path.toStdString(), &status) == 0 && !status.isFolder && !status.isFile) {
        // A pipe, socket or device is not opened: reading it could wait
        // for ever.
        setList(list);
        m_info.clear();
        setInfoKey(L("File"), QStringLiteral("'%1'").arg(QFileInfo(path).fileName()));
        render();
        return;
    }
    if (!path.isEmpty())
        list.append(ZuSoundFile::soundFileWithPath(path));
    setList(list);
    updateInfo();
}

QString SoundFileInfoViewController::valueForName(const ZuSoundFile& file, const QString& name)
{
    for (const char* model : kModelNames)
        if (name == QLatin1String(model))
            return file.displayValueForKey(name);
    for (const MetadataName& entry : kMetadataNames)
        if (name == QLatin1String(entry.name))
            return file.extraInfo().value(QLatin1String(entry.key)).toString();
    return QString();
}

void SoundFileInfoViewController::updateInfo()
{
    m_info.clear();
    setupInfo();
}

void SoundFileInfoViewController::setInfoKey(const QString& key, const QString& value)
{
    for (Line& line : m_info)
        if (line.first == key) {
            line.second = value;
            return;
        }
    m_info.append({key, value});
}

void SoundFileInfoViewController::setupInfoForFile(const ZuSoundFile& file)
{
    if (!file.isPlayable())
        return;
    for (const QVariant& entry : std::as_const(m_attributes)) {
        const QVariantMap attribute = entry.toMap();
        QString label = attribute.value(QStringLiteral("key")).toString();
        const QString spec = attribute.value(QStringLiteral("value")).toString();
        if (label.isEmpty() || spec.isEmpty())
            continue;
        QString value;
        if (spec.startsWith(QLatin1String("specifics:"))) {
            const QVariant specific = file.specifics().value(spec.mid(spec.indexOf(QLatin1Char(':')) + 1));
            // Only what reads as text; data and dictionaries show nothing.
            if (specific.canConvert<QString>() && specific.typeId() != QMetaType::QByteArray)
                value = specific.toString();
        } else if (label == QLatin1String("Status")) {
            value = spec;
        } else {
            value = valueForName(file, spec);
        }
        if (value.isEmpty())
            continue;
        if (label == QLatin1String("Bits"))
            label = file.useBitRate() ? L("Bit Rate") : L("Word Size");
        setInfoKey(label, value);
    }
}

void SoundFileInfoViewController::setupInfo()
{
    if (m_list.size() > 1) {
        setInfoKey(L("Selection"), L("%1 items.").arg(m_list.size()));
    } else if (m_list.size() == 1 && m_list.first()) {
        const ZuSoundFile& file = *m_list.first();
        QString value;
        if (file.isDirectory() || file.isPlayable()) {
            value = file.name();
        } else {
            const std::optional<uint64_t> size = file.size();
            const QString bytes =
                size ? ByteFormatter().stringForObjectValue(QVariant(qulonglong(*size))) : QString();
            // The pieces it has, so no empty one leaves a stray comma.
            QStringList pieces{QStringLiteral("'%1'").arg(QFileInfo(file.path()).fileName()), bytes,
                               file.descriptor()};
            pieces.removeAll(QString());
            value = pieces.join(QStringLiteral(", "));
        }
        setInfoKey(file.isDirectory() ? L("Folder") : L("File"), value);
        setupInfoForFile(file);
    } else {
        setInfoKey(L("Selection"), L("Nothing selected."));
    }
    render();
}

void SoundFileInfoViewController::render()
{
    recalcTabStops();
    if (!m_view)
        return;
    QTextDocument* document = m_view->document();
    document->clear();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    QTextBlockFormat block;
    QList<QTextOption::Tab> tabs;
    tabs.append(QTextOption::Tab(m_tabWidth, QTextOption::RightTab));
    tabs.append(QTextOption::Tab(m_tabWidth + 8.0, QTextOption::LeftTab));
    block.setTabPositions(tabs);
    // Wrapped lines of a value start at the value column.
    block.setLeftMargin(m_tabWidth + 8.0);
    block.setTextIndent(-(m_tabWidth + 8.0));
    bool first = true;
    for (const Line& line : std::as_const(m_info)) {
        if (first)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        first = false;
        cursor.insertText(QStringLiteral("\t%1:\t").arg(line.first), m_labelFormat);
        cursor.insertText(line.second, m_textFormat);
    }
    cursor.endEditBlock();
    m_view->viewport()->update();
}

void SoundFileInfoViewController::recalcTabStops()
{
    const QFontMetricsF metrics(m_labelFormat.font());
    double widest = 0.0;
    for (const Line& line : std::as_const(m_info))
        widest = std::max(widest, metrics.horizontalAdvance(line.first));
    m_tabWidth = widest + metrics.horizontalAdvance(QStringLiteral("  "));
}
