#pragma once

#include "copy/SaveAsMany.h"
#include "platform/FileServices.h"
#include "platform/ForwardingFileServices.h"
#include "platform/MessageBoxes.h"
#include "platform/PlatformError.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed at the end of the test.
// The current folder for as long as it lives; the old one comes back also when a test stops
// early, so that the next test does not run in a folder that is gone.
class InFolder {
  public:
    explicit InFolder(const std::filesystem::path& folder)
        : m_back(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() {
        std::error_code ignored;
        std::filesystem::current_path(m_back, ignored);
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

  private:
    std::filesystem::path m_back;
};

class TempDir {
  public:
    // Under the system's temporary folder, or under `in`.
    explicit TempDir(const std::filesystem::path& in = std::filesystem::temp_directory_path());
    ~TempDir();
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);
// The Windows form of a host path (the path itself on Windows).
std::u16string win(const std::filesystem::path& path);
// Makes a file hidden as the host counts it: its leading dot on POSIX, the attribute on Windows.
void hide(const std::filesystem::path& path);
// Takes every write bit away: the read-only attribute on Windows.
void makeReadOnly(const std::filesystem::path& path);
// Makes a symbolic link; false where this host cannot (Wine).
bool symlinkIfSupported(const std::filesystem::path& to, const std::filesystem::path& link);
// True in a Windows build running under Wine.
bool underWine();
// True where the host's code page is UTF-8 (POSIX); the Windows build reads the system's.
bool hostIsUtf8();
// UTF-8 for readable assertion messages.
std::string narrow(std::u16string_view text);

struct ShownBox {
    std::u16string prompt;
    int style;
    std::u16string title;
};

// Answers message boxes without showing them and remembers what was asked.
class RecordingBoxes : public MessageBoxes {
  public:
    int msgBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    std::u16string applicationTitle() const override { return title; }
    void setApplicationTitle(std::u16string_view value) override { title = value; }

    // The line number of every error report shown, in order.
    std::vector<int> reportedLines() const;

    std::u16string title = u"default title";
    std::vector<ShownBox> shown;
    int answer = MsgBoxOk;
    // Runs while a box is "open", before it is answered.
    std::function<void(const ShownBox&)> onShow;
};

// The real file services with a log of calls, and failures injected on request.
class FaultyFileServices : public ForwardingFileServices {
  public:
    FaultyFileServices();
    // Makes the n-th call (from 1) of the named service throw PlatformError.
    void failOn(std::string call, int nth = 1);
    // Calls made so far, each "name:path".
    std::vector<std::string> calls;
    std::function<void(const std::string& call)> onCall;

    std::int64_t fileLength(std::u16string_view path) override;
    std::u16string installationFolder() override;

    std::int64_t lengthOverride = -1;
    // Where the program appears to be installed; the real folder when empty.
    std::u16string installationFolderOverride;

  protected:
    void before(std::string_view call, std::u16string_view path) override;

  private:
    explicit FaultyFileServices(std::unique_ptr<FileServices> real);

    std::unique_ptr<FileServices> m_real;
    std::string m_failCall;
    int m_failAt = 0;
    int m_seen = 0;
};

// What a copy ended in, as one comparable value: "copied", or refused(kind) with
// Refusal::None for a plain failure.
std::string copyOutcome(FileServices& files, std::u16string_view source,
                        std::u16string_view target);
std::string refused(Refusal refusal);
// What a copy (or with `dryRun` its check) told of a plain source: "created", "replaced" or
// "in place"; or refused(kind) as above.
std::string copyResult(FileServices& files, std::u16string_view source, std::u16string_view target,
                       bool dryRun);
// Temporary files a copy may have left anywhere below a folder.
std::vector<std::string> leftovers(const std::filesystem::path& folder);

// Remembers the outcomes a copy told.
class RecordingListener : public CopyListener {
  public:
    void copied(std::u16string_view, CopyOutcome outcome, std::u16string_view) override {
        outcomes.push_back(outcome);
    }
    void notCopied(std::u16string_view, const PlatformError&) override {}
    std::vector<CopyOutcome> outcomes;
};

// "Start Saving"'s window: of CommandHost's nine members, the texts, the busy flag and setting
// the pointer can each be made to fail; the boxes record, the file services fail on demand, and
// there is no outcome observer.
class TestHost : public CommandHost {
  public:
    std::u16string text1() const override;
    std::u16string text2() const override;
    bool busy() const override;
    void setBusy(bool busy) override;
    int mousePointer() const override { return pointer; }
    void setMousePointer(int value) override;
    MessageBoxes& messageBoxes() override { return boxes; }
    FileServices& fileServices() override { return files; }

    std::u16string source, list;
    bool busyFlag = false;
    int pointer = PointerDefault;
    RecordingBoxes boxes;
    FaultyFileServices files;
    // The host call to fail once ("text1", "text2", "busy", "setBusy", "setMousePointer"),
    // and on which of its calls.
    std::string failCall;
    int failAt = 1;

  private:
    void enter(const std::string& name) const;
    mutable int m_seen = 0;
};
