#include "SplitFileGrouping.h"

#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "FileManager.h"
#include "FolderListing.h"
#include "SoundFileSwitches.h"
#include "ZudbTable.h"
#include "debug_trace.h"
#include "string_utils.h"

#include <pcre.h>
#include <pcrecpp.h>

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cctype>
#include <fstream>
#include <mutex>
#include <utility>

const char* const kSplitStereoSetName = "Split stereo";
const char* const kSplitMultichannelSetName = "Split Multichannel";

// ------------------------------------------------------ indicator patterns

// One compiled pattern per suffix; each accepts exactly that suffix,
// ignoring case, as the whole indicator text.
class IndicatorPatterns {
public:
    explicit IndicatorPatterns(const std::vector<std::string>& suffixes)
    {
        for (const std::string& suffix : suffixes) {
            if (suffix.empty())
                continue;
            const std::string pattern = "(?i)^" + pcrecpp::RE::QuoteMeta(suffix) + "$";
            pcre* compiled = regex_compile(pattern.c_str());
            pcre_extra* study = nullptr;
            try {
                study = regex_study(compiled);
            } catch (...) {
                pcre_free(compiled);
                throw;
            }
            m_patterns.emplace_back(compiled, study);
        }
    }
    ~IndicatorPatterns()
    {
        for (auto& entry : m_patterns) {
            if (entry.second)
                pcre_free_study(entry.second);
            pcre_free(entry.first);
        }
    }
    IndicatorPatterns(const IndicatorPatterns&) = delete;
    IndicatorPatterns& operator=(const IndicatorPatterns&) = delete;

    // Whether one of the patterns accepts `text` as a whole.
    bool Matches(const std::string& text) const
    {
        for (const auto& entry : m_patterns) {
            int vector[3];
            const int rc = pcre_exec(entry.first, entry.second, text.data(), int(text.size()), 0, 0,
                                     vector, 3);
            if (rc >= 0)
                return true;
        }
        return false;
    }

private:
    std::vector<std::pair<pcre*, pcre_extra*>> m_patterns;
};

IndicatorPatternsPtr MakeIndicatorPatterns(const std::vector<std::string>& suffixes)
{
    return std::make_shared<const IndicatorPatterns>(suffixes);
}

namespace {

constexpr int kMaxSetNumber = 16;

struct CachedSurroundRow {
    SurroundSetRow row;
    std::string preselect;          // matches a name that may carry one of the indicators
    IndicatorPatternsPtr patterns;
    // A later row has the same indicators but for case: this one can find
    // nothing that row did not (partners are looked up ignoring case).
    bool duplicate = false;
};

struct SurroundCache {
    std::mutex mutex;
    bool loaded = false;
    std::vector<CachedSurroundRow> rows;
};

SurroundCache& Surround()
{
    static SurroundCache cache;
    return cache;
}

// The decimal number at the start of `text` (0 when it does not begin with a
// digit; saturates instead of wrapping).
SInt32 LeadingNumber(const std::string& text)
{
    SInt64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > 0x7FFFFFFF)
            return 0x7FFFFFFF;
    }
    return SInt32(value);
}

void LoadSurroundRowsLocked(SurroundCache& cache)
{
    if (cache.loaded)
        return;
    std::string path;
    try {
        path = CSoundFile::GetResourcePathString("surround.zudb");
    } catch (...) {
        return; // no table: no surround sets; tried again next time
    }
    ZudbTable table(path);
    if (table.rows().empty())
        return;

    std::vector<CachedSurroundRow> rows;
    for (ZudbTable::Row& source : table.rows()) {
        CachedSurroundRow row;
        row.row.name = source["name"];
        row.row.configuration = LeadingNumber(source["cc"]);
        for (const std::string& indicator : split_string(source["indicators"], "|"))
            if (!indicator.empty())
                row.row.indicators.push_back(indicator);
        if (row.row.indicators.empty())
            continue;
        std::string alternatives;
        for (const std::string& indicator : row.row.indicators) {
            if (!alternatives.empty())
                alternatives += '|';
            alternatives += pcrecpp::RE::QuoteMeta(indicator);
        }
        row.preselect = "(?i)(?:" + alternatives + ")";
        try {
            row.patterns = MakeIndicatorPatterns(row.row.indicators);
        } catch (...) {
            QM_TRACE("GroupSplitFiles", "surround row " << row.row.name << " skipped: bad indicators");
            continue;
        }
        rows.push_back(std::move(row));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string key = string_to_lower(rows[i].preselect);
        for (std::size_t j = i + 1; j < rows.size() && !rows[i].duplicate; ++j)
            rows[i].duplicate = string_to_lower(rows[j].preselect) == key;
    }
    cache.rows = std::move(rows);
    cache.loaded = true;
}

std::vector<CachedSurroundRow> SurroundRows()
{
    SurroundCache& cache = Surround();
    std::lock_guard<std::mutex> lock(cache.mutex);
    LoadSurroundRowsLocked(cache);
    return cache.rows;
}

bool IsReadableExtension(const std::string& extension)
{
    return GetReadableTypes().contains(QString::fromStdString(extension));
}

// Position of the extension's '.' in `name` when the text after the last '.'
// is a readable extension (case as the table holds it); npos otherwise.
std::size_t ReadableExtensionDot(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return std::string::npos;
    return IsReadableExtension(name.substr(dot + 1)) ? dot : std::string::npos;
}

// The candidate `folder`/`name`, looked up ignoring case: true with the
// path of the file as stored on disk.
bool LookUpPartner(const std::string& folder, const std::string& name, std::string* found)
{
    const auto join = [&folder](const std::string& stored) {
        return folder.empty() ? stored : (folder == "/" ? "/" + stored : folder + "/" + stored);
    };
    // The name as built is the stored name when it exists as it stands
    // (a cheap check that spares listing the folder).
    const std::string exact = join(name);
    FSRef ref;
    if (FSPathMakeRef(exact, &ref) == noErr) {
        *found = exact;
        return true;
    }
    std::string stored;
    if (FindNameCaseInsensitive(folder.empty() ? std::string(".") : folder, name, &stored) != noErr)
        return false;
    *found = join(stored);
    return true;
}

// A partner must be detected (grouping off) as the same type.  A partner
// that cannot be detected counts as missing.
bool IsPartnerOfType(const std::string& path, OSType type)
{
    OSType partnerType = 0;
    SInt32 recognized = 0;
    return DetectFileType(path, &partnerType, &recognized) == noErr && partnerType == type;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return string_to_lower(a) == string_to_lower(b);
}

// A set number: 1 or 2 decimal digits without a leading zero, 1 to 16;
// 0 for anything else.
int SetNumber(const std::string& text)
{
    if (text.empty() || text.size() > 2 || text[0] == '0')
        return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value <= kMaxSetNumber ? value : 0;
}

bool SurroundTest(const std::string& path, OSType type, std::vector<std::string>* members,
                  std::string* setName, SInt32* result)
{
    const std::string name = path_filename(path);
    const std::vector<CachedSurroundRow> rows = SurroundRows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (it->duplicate || !pcrecpp::RE(it->preselect).PartialMatch(name))
            continue;
        if (DetectPartnerFile(path, type, *it->patterns, it->row.indicators, members)) {
            *result = it->row.configuration;
            *setName = it->row.name;
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<SurroundSetRow> GetSurroundSetRows()
{
    std::vector<SurroundSetRow> rows;
    for (const CachedSurroundRow& row : SurroundRows())
        rows.push_back(row.row);
    return rows;
}

bool DetectPartnerFile(const std::string& path, OSType type, const IndicatorPatterns& patterns,
                       const std::vector<std::string>& suffixes, std::vector<std::string>* members)
{
    members->clear();
    if (suffixes.empty() || suffixes.front().empty())
        return false;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = path_filename(path);

    const std::size_t lastDot = name.rfind('.');
    if (lastDot == std::string::npos)
        return false;
    std::size_t begin;
    std::size_t end;
    if (!IsReadableExtension(name.substr(lastDot + 1))) {
        // No readable extension: the indicator is the name's last part.
        begin = lastDot;
        end = name.size();
    } else {
        const std::size_t start = lastDot == 0 ? std::string::npos : name.rfind(suffixes.front()[0], lastDot - 1);
        if (start == std::string::npos)
            return false;
        begin = start;
        end = lastDot;
    }
    const std::string indicator = name.substr(begin, end - begin);
    // The indicator must be one of the set's suffixes as a whole: a name that
    // merely contains one ("Verse-Lead") is no member.
    if (!patterns.Matches(indicator))
        return false;

    const std::string head = name.substr(0, begin);
    const std::string tail = name.substr(end);
    std::vector<std::string> found;
    for (const std::string& suffix : suffixes) {
        if (EqualsIgnoringCase(suffix, indicator)) {
            found.push_back(path); // the file in hand
            continue;
        }
        std::string partner;
        if (!LookUpPartner(folder, head + suffix + tail, &partner) || !IsPartnerOfType(partner, type))
            return false;
        found.push_back(partner);
    }
    *members = std::move(found);
    return true;
}

bool DetectNumberedPartner(const std::string& path, OSType type, std::size_t numberPos,
                           std::vector<std::string>* members, std::size_t numberLength)
{
    members->clear();
    if (numberLength == 0 || numberPos >= path.size() || numberLength > path.size() - numberPos)
        return false;
    const int own = SetNumber(path.substr(numberPos, numberLength));
    // Sets are numbered from 1: a file numbered 0 is never a member.
    if (own < 1)
        return false;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && numberPos <= slash)
        return false;
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string head = path.substr(nameStart, numberPos - nameStart);
    const std::string tail = path.substr(numberPos + numberLength);

    std::vector<std::string> found;
    int stop = kMaxSetNumber + 1;
    for (int k = 1; k <= kMaxSetNumber; ++k) {
        if (k == own) {
            found.push_back(path);
            continue;
        }
        std::string partner;
        if (!LookUpPartner(folder, head + std::to_string(k) + tail, &partner) ||
            !IsPartnerOfType(partner, type)) {
            stop = k;
            break;
        }
        found.push_back(partner);
    }
    if (found.size() > 1 && own < stop) {
        *members = std::move(found);
        return true;
    }
    return false;
}

SInt32 GroupSplitFiles(const std::string& path, OSType type, std::vector<std::string>* members,
                       std::string* setName)
{
    std::vector<std::string> localMembers;
    std::string localName;
    if (!members)
        members = &localMembers;
    if (!setName)
        setName = &localName;
    members->clear();
    setName->clear();

    SInt32 result = kChannelConfigMono;
    try {
        // The type's properties say which sets its mono files form.
        const QVariantMap properties = GetSoundFileProperties(type);
        const QStringList pair = properties.value(QStringLiteral("splitStereoSuffixes")).toStringList();
        if (pair.size() == 2) {
            const std::vector<std::string> suffixes{string_to_lower(pair.at(0).toStdString()),
                                                    string_to_lower(pair.at(1).toStdString())};
            const IndicatorPatternsPtr patterns = MakeIndicatorPatterns(suffixes);
            if (DetectPartnerFile(path, type, *patterns, suffixes, members)) {
                result = kChannelConfigStereo;
                *setName = kSplitStereoSetName;
            }
        } else if (properties.value(QStringLiteral("multichannelSets")).toBool()) {
            bool numbered = false;
            if (GetRecognizeNumberFilesAsSplit()) {
                const std::size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
                const std::string name = path.substr(nameStart);
                const std::size_t extensionDot = ReadableExtensionDot(name);
                const std::string stem = extensionDot == std::string::npos ? name : name.substr(0, extensionDot);
                const std::size_t dot = stem.rfind('.');
                if (dot != std::string::npos && SetNumber(stem.substr(dot + 1)) > 0) {
                    numbered = DetectNumberedPartner(path, type, nameStart + dot + 1, members,
                                                     stem.size() - dot - 1);
                    if (numbered) {
                        result = kChannelConfigMultichannel;
                        *setName = kSplitMultichannelSetName;
                    }
                }
            }
            if (!numbered)
                SurroundTest(path, type, members, setName, &result);
        }
    } catch (const std::exception& e) {
        QM_TRACE("GroupSplitFiles", "grouping of " << path << " failed: " << e.what());
        result = kChannelConfigMono;
    }
    if (result == kChannelConfigMono) {
        members->clear();
        setName->clear();
    }
    return result;
}

std::string surround_base_name(const std::string& name)
{
    const std::string base = GetExtension(QString::fromStdString(path_filename(name))).toStdString();
    const std::size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return base;
    const std::string suffix = base.substr(dot);
    if (SetNumber(suffix.substr(1)) > 0)
        return base.substr(0, dot);
    for (const CachedSurroundRow& row : SurroundRows())
        for (const std::string& indicator : row.row.indicators)
            if (!indicator.empty() && indicator[0] == '.' && EqualsIgnoringCase(indicator, suffix))
                return base.substr(0, dot);
    return base;
}
