#pragma once

#include "platform/CopySeams.h"
#include "platform/FileServices.h"

#include <functional>
#include <set>
#include <string>
#include <sys/types.h>
#include <tuple>

// Copies one regular file to one host path without ever writing a file its checks did not
// look at: the target is resolved once and its folder held open, the new content goes to an
// anonymous file named only when whole, and the name is checked again just before it is taken.
class PosixCopy {
  public:
    PosixCopy();

    CopyOutcome copy(const std::string& source, const std::string& destination);
    // The outcome copy() would have, from the same checks and refusals; nothing is written.
    CopyOutcome check(const std::string& source, const std::string& destination);

    CopySeams seams;

  private:
    struct Source;
    struct Target;
    struct Kept;
    class NewFile;

    CopyOutcome run(const std::string& source, const std::string& destination, bool checkOnly);
    CopyOutcome foresee(const Source& source, const Target& target);
    Target resolve(const std::string& destination);
    Kept judge(const Target& target, const Source& source);
    bool mayWrite(const Target& target);
    NewFile newFile(const Target& target, mode_t mode, bool anonymous);
    void keep(NewFile& file, const Target& target, const Kept& kept);
    void writeContent(const Source& source, int out);
    int linkAnonymous(NewFile& file, const Target& target, const std::string& name);
    CopyOutcome create(const Source& source, const Target& target, bool named);
    CopyOutcome replace(const Source& source, Target& target, const Kept& kept, bool named);
    CopyOutcome writeInPlace(const Source& source, Target& target);
    std::string inodePath(const Target& target) const;
    bool useProc() const { return m_proc && !seams.noProcLinks; }
    void reach(CopyPoint point) const {
        if (seams.at)
            seams.at(point);
    }

    uid_t m_uid;
    gid_t m_gid;
    mode_t m_umask;
    bool m_proc;
    // Names a check said would be created: folder device, folder inode, name.
    std::set<std::tuple<dev_t, ino_t, std::string>> m_foreseen;
};
