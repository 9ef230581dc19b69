#pragma once

#include "platform/CopySeams.h"
#include "platform/FileServices.h"

#include <set>
#include <string>

// Copies one file over one Windows path without ever writing a file its checks did not look
// at: a link is resolved once to its final file, the new content goes to a temporary file in
// that file's folder that the system deletes if the process dies, and it takes the name by
// handle once a last check finds the name still holding the checked file.
class Win32Copy {
  public:
    CopyOutcome copy(const std::u16string& source, const std::u16string& destination);
    // The outcome copy() would have, from the same checks and refusals; nothing is written.
    CopyOutcome check(const std::u16string& source, const std::u16string& destination);

    CopySeams seams;

  private:
    CopyOutcome run(const std::u16string& source, const std::u16string& destination,
                    bool checkOnly);
    void reach(CopyPoint point) const {
        if (seams.at)
            seams.at(point);
    }

    // Final paths, upper-cased, that a check said would be created.
    std::set<std::u16string> m_foreseen;
};
