#include "file_type_table.h"

#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "SoundFileRegistry.h"
#include "TypeSettingRules.h"
#include "format_type_codes.h"

#include <algorithm>
#include <utility>

namespace {

const QString kListOrderKey = QStringLiteral("listOrder");
const QString kCreatedAsKey = QStringLiteral("createdAs");

// The object the first of `codes` with a registered factory makes (a
// format with two codes has its class registered under either); null when
// none has a factory.  A constructor's exception passes on to the caller.
CSoundFile* CreateFromRegistry(const std::vector<OSType>& codes)
{
    for (const OSType code : codes)
        if (const SoundFileFactory factory = GetSoundFileFactory(code))
            return factory();
    return nullptr;
}

// An entry of the table: one that has its place in the type list.
bool InTable(const QVariantMap& entry)
{
    return entry.value(kListOrderKey).isValid();
}

SoundFileDispatcherRef MakeDispatcher(OSType type, const QVariantMap& entry)
{
    std::vector<OSType> codes;
    for (const QVariant& code : entry.value(kCreatedAsKey).toList())
        codes.push_back(HFSTypeCodeFromFileType(code.toString()));
    if (codes.empty())
        codes.push_back(type);
    return TypeSettingRules::fromEntry(entry).makeDispatcher([codes]() { return CreateFromRegistry(codes); });
}

} // namespace

const OSType kWorkFileType = format_type_codes::kTemp;
const OSType kDefaultOutputFileType = format_type_codes::kAIFF;

void BuildSoundFileDispatchers(QVariantMap& fileTypeDictionary)
{
    for (const OSType type : GetFileTypeTableCodes()) {
        auto it = fileTypeDictionary.find(FileTypeForHFSTypeCode(type));
        if (it == fileTypeDictionary.end() || it.value().typeId() != QMetaType::QVariantMap)
            continue;
        QVariantMap entry = it.value().toMap();
        SetEntryDispatcher(&entry, MakeSoundFileDispatcher(type));
        it.value() = entry;
    }
}

void BuildSoundFileDispatchers()
{
    for (const OSType type : GetFileTypeTableCodes())
        SetSoundFileProperty(type, kFileTypeDispatcherKey, QVariant::fromValue(MakeSoundFileDispatcher(type)));
}

SoundFileDispatcherRef MakeSoundFileDispatcher(OSType type)
{
    const QVariantMap entry = GetSoundFileProperties(type);
    return InTable(entry) ? MakeDispatcher(type, entry) : nullptr;
}

std::vector<OSType> GetFileTypeTableCodes()
{
    std::vector<std::pair<int, OSType>> places;
    const QVariantMap dictionary = LoadSoundFileProperties();
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        const QVariantMap entry = it.value().toMap();
        if (it.value().typeId() == QMetaType::QVariantMap && InTable(entry))
            places.emplace_back(entry.value(kListOrderKey).toInt(), HFSTypeCodeFromFileType(it.key()));
    }
    std::sort(places.begin(), places.end());
    std::vector<OSType> codes;
    codes.reserve(places.size());
    for (const auto& place : places)
        codes.push_back(place.second);
    return codes;
}
