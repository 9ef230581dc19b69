#include "platform/CopySequence.h"

#include "platform/PlatformError.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace {

// Copied piece by piece, so that a source changing mid-copy is seen between pieces.
constexpr std::int64_t kPiece = std::int64_t{4} << 20;
// Attempts at a free temporary name before giving up.
constexpr int kNameAttempts = 8;
// A scanner, a backup or sync client or a preview holds a file for an instant, well under a
// second; a program that keeps it (a document being edited) keeps it for hours. Waits of 50 ms
// doubling five times, 1.55 s in all, see the first go and cost the run no more than that for
// each of the second.
constexpr int kBusyWaits = 5;
constexpr std::chrono::milliseconds kFirstWait{50};

// The host's failure, thrown as every platform call throws one.
void need(const std::error_code& error) {
    if (error)
        throw PlatformError::fromCode(error);
}

template <typename T> T need(Result<T> result) {
    need(result.error());
    return std::move(*result);
}

bool refusesNewFiles(const std::error_code& error) {
    return error == std::errc::permission_denied || error == std::errc::operation_not_permitted;
}

// The host's prefix (on POSIX it tells who made the name), 12 random hex digits and ".tmp".
HostString temporaryName(const HostString& prefix) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kDigits[] = "0123456789abcdef";
    HostString name = prefix;
    std::uint64_t bits = generator();
    for (int i = 0; i < 12; ++i, bits >>= 4)
        name += static_cast<HostString::value_type>(kDigits[bits & 0xF]);
    for (const char c : {'.', 't', 'm', 'p'})
        name += static_cast<HostString::value_type>(c);
    return name;
}

// Windows reparse points that name another file (IsReparseTagNameSurrogate: symbolic links,
// junctions, mount points) are links; any other (a cloud placeholder, a deduplicated file) is
// the file itself, which a replace must not make download its content.
// https://learn.microsoft.com/windows/win32/fileio/reparse-point-tags
constexpr std::uint32_t kNameSurrogate = 0x20000000;

bool isLink(const FileFacts& facts) {
    return facts.kind == FileKind::Link || (facts.reparseTag & kNameSurrogate) != 0;
}

// Another user's link may lead only to that user's own files and folders: otherwise whoever may
// write a folder on the way could turn the copy against a file they could not write themselves.
void refuseForeignLinks(const std::vector<LinkMet>& met) {
    if (std::ranges::any_of(met,
                            [](const LinkMet& link) { return !link.mine && !link.toOwnersOwn; }))
        throw PlatformError::refused(Refusal::ForeignLink);
}

} // namespace

// The new file while it is not yet the target: its temporary name goes with it unless the
// target's name took it over.
class CopySequence::Pending {
  public:
    Pending(CopyPrimitives& host, const CopyTarget& target, NewFile file)
        : m_host(host), m_target(target), m_file(std::move(file)) {}
    Pending(Pending&& other) noexcept
        : m_host(other.m_host), m_target(other.m_target), m_file(std::move(other.m_file)) {
        other.m_file.name.clear();
    }
    ~Pending() {
        if (!m_file.name.empty())
            m_host.removeName(m_file, m_target);
    }

    NewFile& file() { return m_file; }
    OsHandle& out() { return m_file.file; }
    bool anonymous() const { return m_file.name.empty(); }
    void setName(HostString name) { m_file.name = std::move(name); }
    // The name now belongs to the target.
    void release() { m_file.name.clear(); }
    // Removes the temporary name; a name that stays is reported, never left silently.
    void discard() {
        if (m_file.name.empty())
            return;
        const std::error_code error = m_host.removeName(m_file, m_target);
        const HostString name = std::exchange(m_file.name, {});
        if (error)
            throw PlatformError(u"temporary file left: " + std::u16string(name.begin(), name.end()),
                                error);
    }

  private:
    CopyPrimitives& m_host;
    const CopyTarget& m_target;
    NewFile m_file;
};

// The new file written ahead of its turn, with what it was made from.
class CopySequence::Prepared {
  public:
    CopyTarget target;
    std::optional<Pending> file; // after the target, which it names: dropped before it
    FileFacts source;
    std::uint32_t permissions = 0;
    bool encrypted = false;
};

void CopySequence::Drop::operator()(Prepared* file) const {
    delete file;
}

CopySource CopySequence::openRegular(const HostString& source) {
    CopySource from = need(m_host.openSource(source));
    if (from.facts.kind != FileKind::Regular)
        throw PlatformError::refused(Refusal::NotRegular);
    return from;
}

CopyOutcome CopySequence::copy(const HostString& source, const HostString& destination,
                               Ahead* ahead) {
    m_ahead = ahead;
    m_patient = true;
    const struct Forget {
        CopySequence& copy;
        ~Forget() {
            copy.m_ahead = nullptr;
            copy.m_patient = false;
        }
    } forget{*this};
    const CopySource from = openRegular(source);
    CopyTarget target = resolve(destination);
    if (!target.present) {
        reach(CopyPoint::TargetChecked, target);
        return create(from, target, false);
    }
    const KeptFacts kept = judge(target, from);
    reach(CopyPoint::TargetChecked, target);
    return replace(from, target, kept, false);
}

CopySequence::PreparedFile CopySequence::prepare(const HostString& source,
                                                 const HostString& destination) {
    const CopySource from = openRegular(source);
    PreparedFile made(new Prepared);
    made->target = resolve(destination);
    made->source = from.facts;
    made->permissions = from.facts.permissions;
    made->encrypted = from.facts.encrypted;
    if (made->target.present) {
        judge(made->target, from);
        if (!keepsOwnerOf(made->target) || need(m_host.folderIsAppendOnly(made->target)))
            return {};
        made->permissions = made->target.facts.permissions;
        made->encrypted = from.facts.encrypted || made->target.facts.encrypted;
    }
    // Its turn looks at the old file again; until then it is not held.
    made->target.file.reset();
    made->file.emplace(newFile(made->target, made->permissions, made->encrypted, true));
    fill(from, made->target, made->file->out());
    return made;
}

CopyOutcome CopySequence::check(const HostString& source, const HostString& destination) {
    return foresee(openRegular(source), resolve(destination));
}

CopyTarget CopySequence::resolve(const HostString& destination) {
    CopyTarget target;
    need(m_host.lookUp(destination, target));
    refuseForeignLinks(target.links);
    const HostString given = target.given;
    if (target.present && isLink(target.facts)) {
        // A link is followed once, to its final file; from here on only that file's folder
        // counts.
        if (target.facts.hidden)
            throw PlatformError::refused(Refusal::Hidden);
        std::vector<LinkMet> met;
        const std::optional<HostString> real = need(m_host.finalPath(destination, met));
        if (!real)
            throw PlatformError::refused(Refusal::DanglingLink);
        refuseForeignLinks(met);
        target = CopyTarget();
        need(m_host.lookUp(*real, target));
        refuseForeignLinks(target.links);
        if (!target.present)
            throw PlatformError::refused(Refusal::DanglingLink);
        if (isLink(target.facts))
            throw PlatformError::refused(Refusal::TargetChanged);
    }
    // A write there changes the system itself, whatever the name.
    if (need(m_host.holdsNoDocuments(target)))
        throw PlatformError::refused(Refusal::PseudoFs);
    // The receipt names the file written where it is not the one given.
    HostString path = target.folderPath + target.name;
    m_written = m_host.sameName(path, given) ? HostString() : std::move(path);
    return target;
}

KeptFacts CopySequence::judge(CopyTarget& target, const CopySource& source) {
    const FileFacts& facts = target.facts;
    if (facts.kind == FileKind::Folder)
        throw PlatformError::refused(Refusal::Folder);
    if (facts.kind != FileKind::Regular)
        throw PlatformError::refused(Refusal::NotRegular);
    if (facts.hidden)
        throw PlatformError::refused(Refusal::Hidden);
    // Read-only by its own marks, also for an administrator.
    if (facts.readOnly)
        throw PlatformError::refused(Refusal::ReadOnly);
    if (facts.sameFile(source.facts))
        throw PlatformError::refused(Refusal::SameFile);
    if (std::ranges::find(m_guarded, facts.identity) != m_guarded.end())
        throw PlatformError::refused(Refusal::OwnOutput);
    // For root too, as the kernel's protection of such folders does.
    if (need(m_host.plantedInSharedFolder(target)))
        throw PlatformError::refused(Refusal::ForeignInSticky);
    // Replaced or written over, the file must be one this process may write, as on Windows,
    // where a copy opens the target itself for writing.
    Result<bool> writable = m_host.mayWrite(target);
    // Open in another program that shares no writing (a document being edited).
    for (int waits = 0;
         writable.error() == std::errc::device_or_resource_busy && waitedFor(waits, target);)
        writable = m_host.mayWrite(target);
    if (writable.error() == std::errc::device_or_resource_busy)
        throw PlatformError::refused(Refusal::Busy);
    if (!need(std::move(writable)))
        throw PlatformError::refused(Refusal::NotWritable);
    target.volume = need(m_host.volumeOf(target));
    // A volume without owners or access lists (FAT, exFAT) has none to keep.
    if (!target.volume.keepsOwners)
        return {};
    Result<KeptFacts> kept = m_host.readKept(target);
    if (kept.error())
        throw PlatformError::refused(Refusal::Acl);
    return std::move(*kept);
}

// Whether a new file would keep the target's owner; always, where the volume keeps none.
bool CopySequence::keepsOwnerOf(const CopyTarget& target) {
    return !target.volume.keepsOwners || need(m_host.mayKeepOwner(target));
}

CopyOutcome CopySequence::foresee(const CopySource& source, CopyTarget target) {
    // Judged first, as the copy judges it before it makes anything.
    if (target.present)
        judge(target, source);
    if (source.facts.encrypted && !m_host.folderKeepsEncrypted(target))
        throw PlatformError::refused(Refusal::NotEncrypted);
    const bool takesFiles = need(m_host.folderTakesNewFiles(target));
    std::string key = need(m_host.placeKey(target));
    if (!target.present) {
        if (m_foreseen.contains(key))
            return takesFiles ? CopyOutcome::Replaced : CopyOutcome::InPlace;
        if (!takesFiles)
            throw PlatformError::fromCondition(std::errc::permission_denied);
        m_foreseen.insert(std::move(key));
        return CopyOutcome::Created;
    }
    const bool keepsOwner = keepsOwnerOf(target);
    // Held, the checked file would stand in the way of the questions below, as it would of
    // the rename it is let go before.
    target.file.reset();
    // A program that lets nobody delete the file stops any rename over it.
    if (m_host.heldElsewhere(target, false))
        throw PlatformError::refused(Refusal::Busy);
    if (takesFiles && !need(m_host.folderKeepsName(target)) && keepsOwner &&
        !need(m_host.folderIsAppendOnly(target))) {
        // One that shares it stops it too where the volume has no POSIX renames.
        if (!target.volume.posixRenames && m_host.heldOpen(target))
            throw PlatformError::refused(Refusal::Busy);
        return CopyOutcome::Replaced;
    }
    if (source.facts.encrypted && !target.facts.encrypted)
        throw PlatformError::refused(Refusal::NotEncrypted);
    // Written over, the file opens shared with no one.
    if (m_host.heldOpen(target))
        throw PlatformError::refused(Refusal::Busy);
    // The question the copy answers by reserving, asked of the free space.
    if (need(m_host.freeSpace(target.folder)) < spaceNeeded(source, target.facts, target.folder))
        throw PlatformError::refused(Refusal::NoSpace);
    return CopyOutcome::InPlace;
}

// What writing the source over a file needs beyond what the file holds: its growth and, within
// the range written over, its holes (estimated from its facts where they are not listed); as
// much as is written where blocks are copied on write.
std::int64_t CopySequence::spaceNeeded(const CopySource& source, const FileFacts& old,
                                       OsHandle::Native file) {
    const std::int64_t size = source.facts.size;
    if (need(m_host.copiesOnWrite(file)))
        return size;
    const std::int64_t over = std::min(old.size, size);
    // A file that says it takes nothing says little (FUSE): its holes are not counted.
    const std::int64_t holes =
        old.allocated > 0 ? std::max<std::int64_t>(over - old.allocated, 0) : 0;
    return std::max<std::int64_t>(size - old.size, 0) + holes;
}

CopySequence::Pending CopySequence::newFile(const CopyTarget& target, std::uint32_t permissions,
                                            bool encrypted, bool anonymous) {
    m_host.removeLeftovers(target);
    if (anonymous && !encrypted) {
        Result<NewFile> file = m_host.createAnonymous(target, permissions);
        if (!file.error())
            return Pending(m_host, target, std::move(*file));
        if (file.error() != std::errc::not_supported)
            need(file.error());
    }
    // A temporary name there could never be removed.
    if (need(m_host.folderIsAppendOnly(target)))
        throw PlatformError::refused(Refusal::AppendOnly);
    for (int attempt = 1;; ++attempt) {
        Result<NewFile> file = m_host.createNamed(target, temporaryName(m_host.temporaryPrefix()),
                                                  permissions, encrypted);
        if (!file.error()) {
            Pending made(m_host, target, std::move(*file));
            // Encrypted content never becomes plain text: where the new file is not kept
            // encrypted (the file system cannot, or the process has no key), there is no copy.
            if (encrypted && !made.file().encrypted)
                throw PlatformError::refused(Refusal::NotEncrypted);
            return made;
        }
        if (file.error() != std::errc::file_exists || attempt == kNameAttempts)
            need(file.error());
    }
}

// Copies [from, to) of the source; a source that yields less fails the copy.
void CopySequence::copyRange(const CopySource& source, const CopyTarget& target, OsHandle& out,
                             std::int64_t from, std::int64_t to) {
    for (std::int64_t done = from; done < to;) {
        const std::int64_t got =
            need(m_host.copyPiece(source, out, done, std::min(to - done, kPiece)));
        if (got == 0)
            throw PlatformError::refused(Refusal::SourceChanged);
        done += got;
        reach(CopyPoint::ContentCopied, target);
    }
}

// Copies the source whole as it was opened; a source that yields other than its size, or
// changed meanwhile, fails the copy. A source with holes is copied range by range of data and
// the copy keeps the holes; written in place, the old bytes in them are punched out.
void CopySequence::writeContent(const CopySource& source, const CopyTarget& target, OsHandle& out,
                                bool inPlace) {
    const std::int64_t size = source.facts.size;
    if (source.facts.allocated >= size) {
        copyRange(source, target, out, 0, size);
    } else {
        for (std::int64_t at = 0; at < size;) {
            const auto [first, last] = need(m_host.nextData(source.file, size, at));
            const std::int64_t start = std::min(first, size), end = std::min(last, size);
            if (inPlace && start > at)
                need(m_host.punchHole(out, at, start));
            copyRange(source, target, out, start, end);
            at = std::max(end, at + 1);
        }
        // A hole at the end is no write: the length says it. In place, the length is set last.
        if (!inPlace)
            need(m_host.setLength(out, size));
    }
    // Files such as those under /proc say they are empty and yet have content.
    if (size == 0 && need(m_host.readsAt(source, 0)))
        throw PlatformError::refused(Refusal::SourceChanged);
    // A rewrite that kept the size and set the time back still moved the change time, where the
    // file system keeps one.
    const FileFacts now = need(m_host.sourceNow(source));
    if (now.size != size || now.modified != source.facts.modified ||
        (now.changed != 0 && source.facts.changed != 0 && now.changed != source.facts.changed))
        throw PlatformError::refused(Refusal::SourceChanged);
}

// Every copy takes the source's last-modified time, as the Windows copy does; written in
// place by one who does not own the file, it keeps the time of the write.
void CopySequence::takeTime(OsHandle& out, const CopySource& source, bool inPlace) {
    const std::error_code error = m_host.takeTime(out, source);
    if (!(inPlace && error == std::errc::operation_not_permitted))
        need(error);
}

// A new file made whole before it takes any name: content, streams, time, and its data on disk,
// so that after a power cut the name holds the old file or the whole new one.
void CopySequence::fill(const CopySource& source, const CopyTarget& target, OsHandle& out) {
    writeContent(source, target, out, false);
    need(m_host.carryStreams(out, source));
    takeTime(out, source, false);
    need(m_host.writeOut(target, out));
}

// The file written ahead of this turn, where it holds what this copy would write now: the same
// source, unchanged (a write that kept the size and set the time back still changes the change
// time), in the same folder, made with the same permissions and encryption. Any other is dropped.
CopySequence::PreparedFile CopySequence::takeAhead(const CopySource& source,
                                                   const CopyTarget& target,
                                                   std::uint32_t permissions, bool encrypted) {
    if (!m_ahead || !m_ahead->file)
        return {};
    PreparedFile made = std::move(m_ahead->file);
    const FileFacts& was = made->source;
    if (!was.sameFile(source.facts) || was.size != source.facts.size ||
        was.modified != source.facts.modified || was.changed != source.facts.changed ||
        made->permissions != permissions || made->encrypted != encrypted)
        return {};
    Result<bool> same = m_host.sameFolder(made->target, target);
    if (same.error() || !*same)
        return {};
    return made;
}

// This copy writes a file itself.
void CopySequence::writingHere() {
    if (m_ahead && m_ahead->writingHere)
        m_ahead->writingHere();
}

CopyOutcome CopySequence::create(const CopySource& source, const CopyTarget& target, bool named) {
    const PreparedFile ahead =
        takeAhead(source, target, source.facts.permissions, source.facts.encrypted);
    std::optional<Pending> own;
    if (!ahead) {
        writingHere();
        own.emplace(newFile(target, source.facts.permissions, source.facts.encrypted, !named));
        fill(source, target, own->out());
    }
    Pending& file = ahead ? *ahead->file : *own;
    // Told while the file is open: naming it may close it.
    need(m_host.wrote(target, file.out()));
    reach(CopyPoint::BeforeLastCheck, target);
    if (file.anonymous()) {
        const std::error_code error = m_host.linkAnonymous(file.file(), target, target.name);
        if (error == std::errc::not_supported)
            return create(source, target, true);
        if (error == std::errc::file_exists)
            throw PlatformError::refused(Refusal::TargetChanged);
        need(error);
        return CopyOutcome::Created;
    }
    const std::error_code error = m_host.publish(file.file(), target, false);
    if (error == std::errc::file_exists)
        throw PlatformError::refused(Refusal::TargetChanged);
    need(error);
    file.release();
    return CopyOutcome::Created;
}

CopyOutcome CopySequence::replace(const CopySource& source, CopyTarget& target,
                                  const KeptFacts& kept, bool named) {
    // A new file the process cannot give the old owner would take the owner's file from them:
    // the old file is written over instead, keeping its owner and every name.
    // Where no temporary name could be removed again, the old file is written over too.
    if (!keepsOwnerOf(target) || need(m_host.folderIsAppendOnly(target)))
        return writeInPlace(source, target);
    // Encrypted content never becomes plain text, neither the source's nor the target's.
    const bool encrypted = source.facts.encrypted || target.facts.encrypted;
    const PreparedFile ahead = takeAhead(source, target, target.facts.permissions, encrypted);
    std::optional<Pending> own;
    if (!ahead) {
        writingHere();
        try {
            own.emplace(newFile(target, target.facts.permissions, encrypted, !named));
        } catch (const PlatformError& error) {
            if (!refusesNewFiles(error.code()))
                throw;
            return writeInPlace(source, target);
        }
        fill(source, target, own->out());
    }
    Pending* const file = ahead ? &*ahead->file : &*own;
    // Carried to the whole file, which no later write can strip of what it keeps.
    if (target.volume.keepsOwners && !need(m_host.carryKept(file->file(), target, kept)))
        throw PlatformError::refused(Refusal::Acl);
    need(m_host.wrote(target, file->out()));
    for (int attempt = 1; file->anonymous(); ++attempt) {
        HostString name = temporaryName(m_host.temporaryPrefix());
        const std::error_code error = m_host.linkAnonymous(file->file(), target, name);
        if (!error)
            file->setName(std::move(name));
        else if (error == std::errc::not_supported)
            return replace(source, target, kept, true);
        else if (error != std::errc::file_exists || attempt == kNameAttempts)
            need(error);
    }
    reach(CopyPoint::BeforeLastCheck, target);
    std::error_code error;
    for (int waits = 0;;) {
        // Held open until here, the checked file cannot be freed and its number handed to a
        // file swapped in under its name, so this check cannot be fooled by a reused number.
        const std::optional<FileFacts> now = need(m_host.lookAgain(target));
        if (!now || !now->sameFile(target.facts))
            throw PlatformError::refused(Refusal::TargetChanged);
        // Held across the rename, the old file would outlive it (and on Windows stop it).
        target.file.reset();
        // A rename never writes through a link, so the instant after that check is harmless.
        error = m_host.publish(file->file(), target, true);
        // A target another program holds refuses the rename as a folder would; it is never
        // written over under its reader.
        if (!error || !refusesNewFiles(error) || !m_host.heldElsewhere(target, true))
            break;
        if (!m_host.publishOverHeld(file->file(), target)) {
            error.clear();
            break;
        }
        // Held again while its holder is waited for.
        need(m_host.holdAgain(target));
        if (!waitedFor(waits, target)) {
            file->discard();
            throw PlatformError::refused(Refusal::Busy);
        }
    }
    if (error) {
        if (!refusesNewFiles(error)) // a sticky folder keeps another user's name
            need(error);
        file->discard();
        return writeInPlace(source, target);
    }
    file->release();
    return CopyOutcome::Replaced;
}

// Where no new file can take the target's place (the folder takes none, or the new file could
// not keep the old one's owner, or its temporary name could never be removed), the checked file
// is written over, once its space is known to be there so that a full disk cannot leave it
// half-written.
CopyOutcome CopySequence::writeInPlace(const CopySource& source, CopyTarget& target) {
    writingHere();
    if (!target.file.valid()) {
        // Found again without opening it for writing, so that nothing swapped in is opened.
        const std::optional<FileFacts> found = need(m_host.holdAgain(target));
        if (!found || !found->sameFile(target.facts))
            throw PlatformError::refused(Refusal::TargetChanged);
    }
    // Written over, a plain file would hold the encrypted source's content as plain text.
    if (source.facts.encrypted && !target.facts.encrypted)
        throw PlatformError::refused(Refusal::NotEncrypted);
    FileFacts opened;
    Result<OsHandle> opening = m_host.openInPlace(target, opened);
    for (int waits = 0;
         opening.error() == std::errc::device_or_resource_busy && waitedFor(waits, target);)
        opening = m_host.openInPlace(target, opened);
    // Never written over under another program's reader.
    if (opening.error() == std::errc::device_or_resource_busy)
        throw PlatformError::refused(Refusal::Busy);
    OsHandle out = need(std::move(opening));
    if (!opened.sameFile(target.facts))
        throw PlatformError::refused(Refusal::TargetChanged);
    secureSpace(source, target, out, opened.size);
    // From the first byte written over, the target is no longer what it was: a failure leaves
    // it written in part, and says so.
    try {
        writeContent(source, target, out, true);
        // The source's named streams go with its content here too (its Mark of the Web).
        need(m_host.carryStreams(out, source));
        // The new content reaches the disk before the old end is cut off.
        need(m_host.syncData(out));
        need(m_host.setLength(out, source.facts.size));
        takeTime(out, source, true);
        need(m_host.wrote(target, out));
        need(out.close());
    } catch (const PlatformError& error) {
        throw PlatformError(u"written in part: " + error.description(), error.code());
    }
    return CopyOutcome::InPlace;
}

// Nothing of the target changes until the write can finish: the space it needs beyond what the
// target holds (its growth, and its holes in the range written over) is secured first, by a
// reservation where the file system honours one, else, where blocks written over need no new
// space, by writing those parts first. A failure gives it all back, the target whole, and a
// full disk is refused. Where blocks are copied on write only the free figure can tell.
void CopySequence::secureSpace(const CopySource& source, const CopyTarget& target, OsHandle& out,
                               std::int64_t old) {
    const std::int64_t size = source.facts.size;
    if (need(m_host.copiesOnWrite(out.get()))) {
        if (need(m_host.freeSpace(out.get())) < size)
            throw PlatformError::refused(Refusal::NoSpace);
        return;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> holes;
    for (std::int64_t at = 0, over = std::min(old, size); at < over;) {
        const auto [start, end] = need(m_host.nextData(out.get(), old, at));
        if (start > at)
            holes.emplace_back(at, std::min(start, over));
        at = std::max(end, at + 1);
    }
    std::error_code error = m_host.reserve(out, size);
    if (error == std::errc::not_supported) {
        try {
            for (const auto& [from, to] : holes)
                copyRange(source, target, out, from, to);
            copyRange(source, target, out, std::min(old, size), size);
            error.clear();
        } catch (const PlatformError& failure) {
            giveBack(out, old, size, holes);
            if (failure.refusal() != Refusal::None)
                throw;
            error = failure.code();
        }
    }
    if (!error)
        return;
    giveBack(out, old, size, holes);
    if (PlatformError::isNoSpace(error))
        throw PlatformError::refused(Refusal::NoSpace);
    need(error);
}

// The target back to its old length, and its holes and whatever lay reserved beyond its end
// freed again.
void CopySequence::giveBack(OsHandle& out, std::int64_t old, std::int64_t size,
                            const std::vector<std::pair<std::int64_t, std::int64_t>>& holes) {
    // Grown to the end reserved and cut back, the file lets go of every block past its old end;
    // where it cannot even grow, cutting it back is what counts.
    if (size > old)
        (void)m_host.setLength(out, size);
    need(m_host.setLength(out, old));
    for (const auto& [from, to] : holes)
        need(m_host.punchHole(out, from, to));
}

// Whether the copy waited for another program to let go of the target, to ask again.
bool CopySequence::waitedFor(int& waits, const CopyTarget& target) {
    if (!m_patient || waits == kBusyWaits)
        return false;
    reach(CopyPoint::Busy, target);
    std::this_thread::sleep_for(kFirstWait * (1 << waits++));
    return true;
}

void CopySequence::reach(CopyPoint point, const CopyTarget& target) const {
    if (m_observer)
        m_observer->reached(point, {target.folder != OsHandle::kNone, target.file.valid()});
}
