#include "LegacyConversionImporter.h"

#include "AppPresenter.h"
#include "FileManager.h"
#include "MacRoman.h"
#include "MemoryManager.h"
#include "ResourceManager.h"
#include "UserDefaults.h"
#include "ZuPath.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {
constexpr SInt16 kClassicDomain = -32762;
constexpr OSType kPreferencesFolderType = FOUR_CHAR_CODE("pref");
const QString kPrefsFileName = QStringLiteral("Quillmarch Prefs");

QString Text(const char* text) { return QString::fromUtf8(text); }
}

LegacyConversionImporter::ReadResult LegacyConversionImporter::readFile(const QString& path)
{
    ReadResult result;
    FSRef ref;
    Boolean isFolder = false;
    if (path.isEmpty() || FSPathMakeRef(path.toStdString(), &ref, &isFolder) != noErr || isFolder)
        return result;

    const ResFileRefNum previous = CurResFile();
    ResFileRefNum refNum = FSOpenResFile(&ref, fsRdPerm);
    if (refNum == -1 && FSOpenResourceFile(&ref, 0, nullptr, fsRdPerm, &refNum) != noErr) {
        UseResFile(previous);
        return result;
    }
    UseResFile(refNum);
    const ResourceCount count = Count1Resources(kLegacyResourceType);
    for (int index = 1; index <= count; ++index) {
        Handle resource = Get1IndResource(kLegacyResourceType, ResourceIndex(index));
        if (!resource || !*resource)
            continue;
        Str255 name = {0};
        GetResInfo(resource, nullptr, nullptr, name);
        const QString conversionName = MacRoman::toUnicode(reinterpret_cast<const char*>(name + 1), name[0]);
        const Size size = GetHandleSize(resource);
        const QByteArray record(*resource, int(size));
        if (ConvSpecRef spec = ConvSpec::fromLegacyData(record, conversionName))
            result.conversions.append(spec);
        else
            ++result.unsupported;
    }
    CloseResFile(refNum);
    UseResFile(previous);
    return result;
}

QString LegacyConversionImporter::defaultPrefsPath()
{
    if (const auto folder = ZuPath::fromFindFolder(kClassicDomain, kPreferencesFolderType))
        return folder->stringValue() + QLatin1Char('/') + kPrefsFileName;
    return QFileInfo(UserDefaults::defaultFilePath()).absolutePath() + QLatin1Char('/') + kPrefsFileName;
}

QString LegacyConversionImporter::importedName(const QString& name, const QSet<QString>& taken)
{
    const QString base = name + Text(" (imported from Quillmarch 3)");
    if (!taken.contains(base))
        return base;
    for (int counter = 1;; ++counter) {
        const QString candidate = QStringLiteral("%1 %2").arg(base).arg(counter);
        if (!taken.contains(candidate))
            return candidate;
    }
}

QList<ConvSpecRef> LegacyConversionImporter::namedForImport(const QList<ConvSpecRef>& conversions,
                                                            QSet<QString> taken)
{
    QList<ConvSpecRef> named;
    for (const ConvSpecRef& spec : conversions) {
        if (!spec)
            continue;
        ConvSpecRef copy = spec->copy();
        const QString name = importedName(spec->conversionName(), taken);
        copy->setConversionName(name);
        taken.insert(name);
        named.append(copy);
    }
    return named;
}

QList<ConvSpecRef> LegacyConversionImporter::legacyConvSpecsFromFile(const QString& path, QWidget* parent)
{
    const ReadResult result = readFile(path);
    if (result.unsupported > 0) {
        AppPresenter::showAlert({Text("Unsupported File Types"),
                                 QString::asprintf("There were %d conversions for file types in the import file, "
                                                   "which are no longer supported by Quillmarch. They were ignored.",
                                                   result.unsupported),
                                 {}, {}, {}},
                                parent);
    }
    return result.conversions;
}

void LegacyConversionImporter::importLegacyConversionsFromArray(const QList<ConvSpecRef>& conversions,
                                                                QWidget* parent, const QSet<QString>& taken,
                                                                const Inserter& insert)
{
    if (conversions.isEmpty()) {
        AppPresenter::showAlert(
            {Text("No Conversions Found"), Text("There were no conversions found in the file."), {}, {}, {}}, parent);
        return;
    }
    if (insert)
        insert(namedForImport(conversions, taken));
}

void LegacyConversionImporter::importConversions(QWidget* parent, const QSet<QString>& taken, const Inserter& insert)
{
    const int answer = AppPresenter::showAlert(
        {Text("Import Conversions from Quillmarch version 3"),
         Text("Do you want Quillmarch to look for existing conversions automatically, or do you want to tell "
              "Quillmarch explicitly from which Quillmarch version 3 Preferences file to import conversions from?"),
         Text("Auto Import"), Text("Cancel"), Text("Open File...")},
        parent);
    if (answer == 1) {
        importLegacyConversionsFromArray(legacyConvSpecsFromFile(defaultPrefsPath(), parent), parent, taken, insert);
    } else if (answer == -1) {
        const QString path = QFileDialog::getOpenFileName(parent, Text("Open"), QFileInfo(defaultPrefsPath()).path());
        if (!path.isEmpty())
            importLegacyConversionsFromArray(legacyConvSpecsFromFile(path, parent), parent, taken, insert);
    }
}
