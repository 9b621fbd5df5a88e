#include "OutputNaming.h"

#include "CreatedFilesList.h"
#include "FileOperations.h"
#include "FilePublishing.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "debug_trace.h"
#include "finder_comments.h"

#include <QSet>
#include <QtGlobal>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

const QString kTemporaryOutputWord = QString::fromLatin1(kTemporaryNameWord);

namespace {

// Numbers tried before a set gives up (each try is one look-up per member).
constexpr unsigned long kMaxDuplicateNumber = 100000;

const QString kNumberDuplicatesKey = PreferenceKeys::kNumberDuplicateFiles;
const QString kPreserveCommentsKey = PreferenceKeys::kPreserveFinderComments;

std::string Path(const QString& text)
{
    return text.toStdString();
}

// Something is at the path (a dangling link counts).
bool Exists(const QString& path)
{
    return StatPathNoFollow(Path(path), nullptr) == 0;
}

// The file manager's error handler: failures go to the system log.
void Report(const char* what, OSErr err, const QString& path)
{
    qWarning("%s '%s' failed (%d)", what, qUtf8Printable(path), int(err));
}

OSErr Delete(const QString& path)
{
    // (What another program put at the name of an output of ours is left
    // alone: kFileReplacedErr.)
    const OSErr err = DeletePath(Path(path));
    if (err != noErr && err != fnfErr && err != kFileReplacedErr)
        Report("deleting", err, path);
    return err;
}

// Entries name files inside the output folder only.
bool IsInsideFolder(const QString& entry)
{
    if (entry.isEmpty() || entry.startsWith(QLatin1Char('/')))
        return false;
    for (const QString& part : entry.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

// Length of the unique tag at `at` ("-" and six letters or digits, then
// the end of the name or a separator), or 0.
qsizetype UniqueTagLength(const QString& entry, qsizetype at)
{
    constexpr qsizetype kTagLength = 7;
    if (entry.size() < at + kTagLength || entry.at(at) != QLatin1Char('-'))
        return 0;
    for (qsizetype i = at + 1; i < at + kTagLength; ++i) {
        const char16_t c = entry.at(i).unicode();
        const bool alnum = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        if (!alnum)
            return 0;
    }
    const qsizetype end = at + kTagLength;
    if (end < entry.size()) {
        const QChar next = entry.at(end);
        if (next != QLatin1Char('.') && next != QLatin1Char('-') && next != QLatin1Char('(') &&
            next != QLatin1Char('/'))
            return 0;
    }
    return kTagLength;
}

// The entry with the word replaced; *numberAt gets the position just after
// the last final name put in (-1 when the word does not occur).
// Whether the word at `at` in `entry`, with its tag, marks one of the run's
// own temporaries (`own` empty: every one does).
bool OwnAt(const QString& entry, qsizetype at, const QString& word, const OwnTemporary& own)
{
    return !own || own(entry.mid(at, word.size() + UniqueTagLength(entry, at + word.size())));
}

// The first occurrence of the word from `from` on that marks one of the
// run's own temporaries, or -1.
qsizetype IndexOfOwn(const QString& entry, const QString& word, qsizetype from, const OwnTemporary& own)
{
    for (qsizetype at = entry.indexOf(word, from, Qt::CaseSensitive); at >= 0;
         at = entry.indexOf(word, at + word.size(), Qt::CaseSensitive)) {
        if (OwnAt(entry, at, word, own))
            return at;
    }
    return -1;
}

QString Replace(const QString& entry, const QString& finalName, const QString& word, qsizetype* numberAt,
                const OwnTemporary& own = {})
{
    *numberAt = -1;
    if (word.isEmpty())
        return entry;
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = IndexOfOwn(entry, word, from, own);
        if (at < 0)
            break;
        out += entry.mid(from, at - from);
        out += finalName;
        *numberAt = out.size();
        from = at + word.size() + UniqueTagLength(entry, at + word.size());
    }
    out += entry.mid(from);
    return out;
}

struct Member {
    int index = 0;          // position in the list
    QString entry;
    QString source;         // folder + "/" + entry
    QString movedTo;        // where it is now, once moved
    bool moved = false;
};

struct OutputSet {
    std::vector<Member> members;
};

enum class MoveResult { Done, Taken, Failed };

class SetRenamer {
public:
    SetRenamer(const QString& folder, const QString& finalName, const OutputRenameSettings& settings)
        : folder_(folder), finalName_(finalName), settings_(settings)
    {
    }

    QString Target(const Member& m, unsigned long number) const
    {
        return folder_ + QLatin1Char('/') +
               NumberedOutputName(m.entry, finalName_, number, settings_.temporaryWord, settings_.ownTemporary);
    }

    bool AllFree(const OutputSet& set, unsigned long number) const
    {
        for (const Member& m : set.members) {
            if (Exists(Target(m, number)))
                return false;
        }
        return true;
    }

    // Moves every member (with its sidecar) to its name with `number`, all
    // together or none (see FilePublishing).
    MoveResult Move(OutputSet& set, unsigned long number, QString* failedTarget, OSErr* failure)
    {
        std::vector<PublishMove> moves;
        for (const Member& m : set.members)
            moves.push_back({Path(m.source), Path(Target(m, number))});
        const OSErr err = PublishFiles(Path(folder_), moves);
        if (err == noErr) {
            for (Member& m : set.members) {
                m.moved = true;
                m.movedTo = Target(m, number);
            }
            return MoveResult::Done;
        }
        *failedTarget = Target(set.members.front(), number);
        for (const Member& m : set.members) {
            // A name too long: the longest is at fault.
            if (err == bdNamErr ? Target(m, number).toUtf8().size() > failedTarget->toUtf8().size()
                                : Exists(Target(m, number))) {
                *failedTarget = Target(m, number);
                if (err != bdNamErr)
                    break;
            }
        }
        if (err == dupFNErr)
            return MoveResult::Taken;
        *failure = err;
        // The failure is the file's, said on its line with its own code (a
        // full disk, a folder gone meanwhile are the batch's).
        if (settings_.publishFailed)
            settings_.publishFailed(*failedTarget, err);
        return MoveResult::Failed;
    }

    // Removes what the set made: moved members at their new names, the
    // others at their temporary names.
    void DeleteSet(const OutputSet& set)
    {
        for (const Member& m : set.members)
            Delete(m.moved ? m.movedTo : m.source);
    }

    void TraceFailure(const OutputSet& set, const QString& target)
    {
        const QString source = set.members.empty() ? QString() : set.members.front().source;
        QM_TRACE("renameOutputTo", "could not rename '" << Path(source) << "' to '"
                                                         << Path(target.section(QLatin1Char('/'), -1)) << "'");
    }

    // The outcome of moving the set to its names with `number`: noErr when
    // done, the move's failure when it failed (what the set made is gone),
    // none when a name was taken (nothing moved).
    std::optional<SInt16> TryMove(OutputSet& set, unsigned long number, QString* failedTarget)
    {
        OSErr failure = noErr;
        switch (Move(set, number, failedTarget, &failure)) {
        case MoveResult::Done:
            return noErr;
        case MoveResult::Failed:
            TraceFailure(set, *failedTarget);
            DeleteSet(set);
            return failure;
        case MoveResult::Taken:
            break;
        }
        return std::nullopt;
    }

    // 0, -48 when a name is taken, or the move's failure.
    SInt16 Rename(OutputSet& set)
    {
        // A lone output is moved straight away: the move itself finds its
        // final name taken (and leaves it as it is).
        if (set.members.size() == 1) {
            QString failedTarget;
            if (const auto result = TryMove(set, 0, &failedTarget))
                return *result;
        }
        bool taken = false;
        for (const Member& m : set.members) {
            const QString target = Target(m, 0);
            if (Exists(target)) {
                taken = true;
                if (settings_.duplicateFound)
                    settings_.duplicateFound(target.section(QLatin1Char('/'), -1));
            }
        }
        // An observer may have made room.
        if (taken)
            taken = !AllFree(set, 0);

        QString failedTarget;
        if (!taken) {
            if (const auto result = TryMove(set, 0, &failedTarget))
                return *result;
        }

        if (!settings_.numberDuplicates) {
            TraceFailure(set, failedTarget.isEmpty() ? Target(set.members.front(), 0) : failedTarget);
            DeleteSet(set);
            return dupFNErr;
        }

        for (unsigned long n = 1; n <= kMaxDuplicateNumber; ++n) {
            if (!AllFree(set, n))
                continue;
            if (const auto result = TryMove(set, n, &failedTarget))
                return *result;
        }
        TraceFailure(set, Target(set.members.front(), kMaxDuplicateNumber));
        DeleteSet(set);
        return dupFNErr;
    }

private:
    QString folder_;
    QString finalName_;
    const OutputRenameSettings& settings_;
};

// Outputs with the temporary word at the same place in the same folder
// belong to one set.
QString SetKey(const QString& entry, const QString& word, const OwnTemporary& own)
{
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    const qsizetype at = IndexOfOwn(entry, word, slash + 1, own);
    if (at < 0)
        return entry; // the word is only in a folder name: a set of its own
    return entry.left(at);
}

} // namespace

OSErr MakeTemporaryOutputName(const std::string& folder, std::string* name)
{
    if (!name)
        return paramErr;
    // Only the name is wanted: the outputs are created (exclusively) under
    // names derived from it.
    return PickRandomName(folder, kTemporaryOutputWord.toStdString() + "-", "", name);
}

OutputRenameSettings OutputRenameSettingsFromDefaults()
{
    OutputRenameSettings settings;
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    settings.numberDuplicates = defaults.boolForKey(kNumberDuplicatesKey);
    settings.preserveComments = defaults.boolForKey(kPreserveCommentsKey);
    return settings;
}

QString FinalOutputName(const QString& entry, const QString& finalName, const QString& word, const OwnTemporary& own)
{
    qsizetype numberAt = -1;
    return Replace(entry, finalName, word, &numberAt, own);
}

QString NumberedOutputName(const QString& entry, const QString& finalName, unsigned long number,
                           const QString& word, const OwnTemporary& own)
{
    qsizetype numberAt = -1;
    QString name = Replace(entry, finalName, word, &numberAt, own);
    if (number == 0 || numberAt < 0)
        return name;
    const QString tag = QStringLiteral("-%1").arg(number);
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (numberAt > slash)
        return name.insert(numberAt, tag);
    // The final name went into a folder name only: number the file before
    // its extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1)
        return name.insert(dot, tag);
    return name + tag;
}

SInt16 RenameOutputs(const QString& folder, const QStringList& entries, const QString& finalName,
                     const OutputRenameSettings& settings, QStringList* outputPaths)
{
    QM_TRACE("renameOutputTo", "final name '" << Path(finalName) << "'");
    if (outputPaths)
        outputPaths->clear();

    // Sets in the order of their first member.
    std::vector<OutputSet> sets;
    std::map<QString, std::size_t> setIndex;
    // A file listed twice is one output (a Sonic split set is listed under
    // its first member's name as well as by its members).
    QSet<QString> seen;
    bool replaced = false;
    for (int i = 0; i < entries.size(); ++i) {
        const QString& entry = entries.at(i);
        // (A user's name of the temporary shape -- the input's, given to a
        // folder of its regions -- is no temporary.)
        if (!IsInsideFolder(entry) || settings.temporaryWord.isEmpty() ||
            IndexOfOwn(entry, settings.temporaryWord, 0, settings.ownTemporary) < 0)
            continue;
        if (seen.contains(entry))
            continue;
        seen.insert(entry);
        Member m;
        m.index = i;
        m.entry = entry;
        m.source = folder + QLatin1Char('/') + entry;
        // A file of ours removed (an intermediate): whatever is at its name
        // now is not ours to publish.
        const MadeFileState made = MadeFileStateOf(Path(m.source));
        if (made == MadeFileState::Removed)
            continue;
        // (A name that still holds the file made there exists.)
        if (made != MadeFileState::Held && !Exists(m.source)) {
            // An output of ours whose name another program took away.
            if (made == MadeFileState::Replaced)
                replaced = true;
            continue;
        }
        const QString key = SetKey(entry, settings.temporaryWord, settings.ownTemporary);
        auto found = setIndex.find(key);
        if (found == setIndex.end()) {
            found = setIndex.emplace(key, sets.size()).first;
            sets.emplace_back();
        }
        sets[found->second].members.push_back(m);
    }

    SInt16 result = noErr;
    SetRenamer renamer(folder, finalName, settings);
    if (replaced) {
        // Nothing of the input is published.
        for (const OutputSet& set : sets)
            renamer.DeleteSet(set);
        return kFileReplacedErr;
    }
    std::vector<std::pair<int, QString>> renamed;
    for (OutputSet& set : sets) {
        const SInt16 err = renamer.Rename(set);
        if (err != noErr) {
            result = err;
            continue;
        }
        for (const Member& m : set.members) {
            renamed.emplace_back(m.index, m.movedTo);
            if (settings.preserveComments && !settings.comment.isEmpty())
                finder_set_comment(settings.comment, m.movedTo);
        }
    }

    if (outputPaths) {
        std::sort(renamed.begin(), renamed.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& r : renamed)
            outputPaths->append(r.second);
    }
    return result;
}

QString FirstTakenOutputName(const QString& folder, const QStringList& entries, const QString& finalName,
                             const OutputRenameSettings& settings)
{
    if (settings.numberDuplicates || settings.temporaryWord.isEmpty())
        return QString();
    for (const QString& entry : entries) {
        if (!IsInsideFolder(entry) || !entry.contains(settings.temporaryWord) ||
            !Exists(folder + QLatin1Char('/') + entry))
            continue;
        const QString name = FinalOutputName(entry, finalName, settings.temporaryWord);
        const QString target = folder + QLatin1Char('/') + name;
        if (!Exists(target))
            continue;
        if (settings.duplicateFound)
            settings.duplicateFound(target.section(QLatin1Char('/'), -1));
        return target;
    }
    return QString();
}

SInt16 RenameCreatedOutputs(const QString& folder, const QString& finalName, const OutputRenameSettings& settings,
                            QStringList* outputPaths)
{
    const SInt16 result = RenameOutputs(folder, GetCreatedFilesList(), finalName, settings, outputPaths);
    CreatedFilesListClear();
    return result;
}
