#pragma once

#include "platform/CopyObserver.h"
#include "platform/CopyPrimitives.h"
#include "platform/FileServices.h"

#include <functional>
#include <memory>
#include <set>
#include <string>

// Copies one regular file to one host path without ever writing a file its checks did not
// look at, on every host: the target is resolved once and its folder held open, the new
// content goes to a file that vanishes should the process die and is named only when whole,
// and the name is checked again, the checked file still held, just before it is taken. Every
// refusal is decided here, over the facts the host's primitives report.
class CopySequence {
  public:
    // A target's new file written ahead of its turn, whole and without its name; dropped, it
    // takes its temporary name with it.
    class Prepared;
    struct Drop {
        void operator()(Prepared* file) const;
    };
    using PreparedFile = std::unique_ptr<Prepared, Drop>;

    // What a turn of a run that writes ahead brings to its copy: the file written for it, if
    // any, and what to call before the copy writes anything itself (no other writer may then
    // write on its file system).
    struct Ahead {
        PreparedFile file;
        std::function<void()> writingHere;
    };

    explicit CopySequence(CopyPrimitives& host) : m_host(host) {}

    // With `ahead`, the file written ahead is taken where it is what this copy would write now,
    // and dropped where not.
    CopyOutcome copy(const HostString& source, const HostString& destination,
                     Ahead* ahead = nullptr);
    // The new file copy() would fill for the destination, written now, ahead of its turn;
    // nothing where the target would be refused or written over. Throws where copy() would.
    PreparedFile prepare(const HostString& source, const HostString& destination);
    // The outcome copy() would have, from the same checks and refusals; nothing is written.
    // A name an earlier check would have created counts as present from then on.
    CopyOutcome check(const HostString& source, const HostString& destination);
    // The file the last copy or check wrote or would write, where it is not the path given
    // (a link followed, a name completed); empty otherwise.
    const HostString& written() const { return m_written; }
    // Refuses every later target that is this file.
    void guard(const FileIdentity& file) { m_guarded.push_back(file); }
    // Tells `observer` at each point of every later copy; none when null.
    void observe(CopyObserver* observer) { m_observer = observer; }

  private:
    class Pending;

    CopySource openRegular(const HostString& source);
    CopyTarget resolve(const HostString& destination);
    KeptFacts judge(CopyTarget& target, const CopySource& source);
    CopyOutcome foresee(const CopySource& source, CopyTarget target);
    PreparedFile takeAhead(const CopySource& source, const CopyTarget& target,
                           std::uint32_t permissions, bool encrypted);
    void writingHere();
    bool keepsOwnerOf(const CopyTarget& target);
    Pending newFile(const CopyTarget& target, std::uint32_t permissions, bool encrypted,
                    bool anonymous);
    void copyRange(const CopySource& source, const CopyTarget& target, OsHandle& out,
                   std::int64_t from, std::int64_t to);
    void writeContent(const CopySource& source, const CopyTarget& target, OsHandle& out,
                      bool inPlace);
    void takeTime(OsHandle& out, const CopySource& source, bool inPlace);
    void fill(const CopySource& source, const CopyTarget& target, OsHandle& out);
    CopyOutcome create(const CopySource& source, const CopyTarget& target, bool named);
    CopyOutcome replace(const CopySource& source, CopyTarget& target, const KeptFacts& kept,
                        bool named);
    CopyOutcome writeInPlace(const CopySource& source, CopyTarget& target);
    std::int64_t spaceNeeded(const CopySource& source, const FileFacts& old, OsHandle::Native file);
    void secureSpace(const CopySource& source, const CopyTarget& target, OsHandle& out,
                     std::int64_t old);
    void giveBack(OsHandle& out, std::int64_t old, std::int64_t size,
                  const std::vector<std::pair<std::int64_t, std::int64_t>>& holes);
    void reach(CopyPoint point, const CopyTarget& target) const;
    bool waitedFor(int& waits, const CopyTarget& target);

    CopyPrimitives& m_host;
    CopyObserver* m_observer = nullptr;
    Ahead* m_ahead = nullptr; // the current copy's
    bool m_patient = false;   // a copy, not a check or a file written ahead: it may wait
    HostString m_written;
    // Places a check said would be created.
    std::set<std::string> m_foreseen;
    // Files no copy may touch; their numbers stay theirs while their owner holds them open.
    std::vector<FileIdentity> m_guarded;
};
