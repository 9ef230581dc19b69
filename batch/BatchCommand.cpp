#include "batch/BatchCommand.h"

#include "base/Text.h"
#include "batch/ProgressDisplay.h"
#include "batch/ReceiptWriter.h"
#include "copy/Main.h"
#include "copy/SaveAsMany.h"
#include "platform/Console.h"
#include "platform/FileServices.h"
#include "platform/ForwardingFileServices.h"
#include "platform/MessageBoxes.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <ostream>

namespace {

constexpr int kUsageError = 64;
constexpr int kInputMessage = 2;
constexpr int kSomeNotCopied = 1;

constexpr std::string_view kUsage =
    "Usage: quorvane-batch [--dry-run] [--one-at-a-time] [--verbose] [--receipt PATH|-] FILE "
    "LIST\n"
    "Copies FILE to every path listed in LIST, one per line, as Quorvane's \"Start Saving\" does,\n"
    "and says what became of each line.\n"
    "  --dry-run        make every check, write nothing; the receipt says what would happen\n"
    "  --one-at-a-time  write each target only at its own turn, not targets on other file\n"
    "                   systems meanwhile\n"
    "  --verbose        also say what writing ahead did: each failure (its line is written\n"
    "                   again at its turn) and how many files it wrote and were taken\n"
    "  --receipt PATH   write a row per list line to PATH (- for standard output):\n"
    "                   line, name, outcome and detail, separated by tabs\n"
    "  --help, --version\n"
    "A FILE, LIST or receipt PATH starting with / is a path of this system; any other is read\n"
    "as the window's boxes would hold it (Z:\\home\\ann\\list.txt).\n"
    "Exit status: 0 all copied or skipped for a missing folder, 1 a source missing, a folder\n"
    "out of reach, a copy refused or failed, an error reported, or copies that may not be on\n"
    "disk, 2 a missing input, 64 a usage error (a receipt that is FILE or LIST included) or a\n"
    "receipt that cannot be written.\n";

std::string utf8(std::u16string_view text) {
    return encodeUtf8Lossless(text).value_or(std::string());
}

std::u16string_view refusalName(Refusal refusal) {
    switch (refusal) {
    case Refusal::ReadOnly:
        return u"read-only";
    case Refusal::Hidden:
        return u"hidden";
    case Refusal::SameFile:
        return u"same-file";
    case Refusal::NotWritable:
        return u"not-writable";
    case Refusal::Folder:
        return u"folder";
    case Refusal::NotRegular:
        return u"not-regular";
    case Refusal::DanglingLink:
        return u"dangling-link";
    case Refusal::Acl:
        return u"acl";
    case Refusal::SourceChanged:
        return u"source-changed";
    case Refusal::ForeignInSticky:
        return u"foreign-in-sticky";
    case Refusal::AppendOnly:
        return u"append-only";
    case Refusal::NoSpace:
        return u"no-space";
    case Refusal::Busy:
        return u"busy";
    case Refusal::NotEncrypted:
        return u"not-encrypted";
    case Refusal::TargetChanged:
        return u"target-changed";
    case Refusal::OwnOutput:
        return u"receipt";
    case Refusal::ForeignLink:
        return u"foreign-link";
    case Refusal::PseudoFs:
        return u"pseudo-fs";
    case Refusal::None:
        break;
    }
    return u"refused";
}

// True when a file starts with the bytes FE FF. A file that does not read says nothing here:
// the run has read it already.
bool startsBigEndian(FileServices& files, std::u16string_view path) {
    char mark[2] = {};
    try {
        return files.openForReading(path)->read(mark, 2) == 2 && mark[0] == '\xFE' &&
               mark[1] == '\xFF';
    } catch (const PlatformError&) {
        return false;
    }
}

// The file services with every copy replaced by its check: a dry run writes nothing. The real
// services still let go of what the probes held when the run is made durable.
class CheckingFiles : public OneAtATimeFileServices {
  public:
    using OneAtATimeFileServices::OneAtATimeFileServices;

    void copyFile(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener) override {
        real().checkCopy(source, destination, listener);
    }
};

struct Options {
    bool dryRun = false;
    bool oneAtATime = false;
    bool verbose = false;
    std::optional<std::u16string> receipt;
    std::vector<std::u16string> inputs;
};

// Standard output as a receipt, each row flushed as it is written.
class StandardOutput : public OutputFile {
  public:
    explicit StandardOutput(std::ostream& out) : m_out(out) {}
    bool isFileAt(std::u16string_view path) override {
        const std::optional<FileIdentity> mine = identity();
        return mine && mine == identityAt(path);
    }
    std::optional<FileIdentity> identity() override { return standardOutputIdentity(); }
    void clear() override {}
    void write(std::string_view bytes) override {
        errno = 0;
        if (!m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush())
            throw PlatformError::fromErrno(errno != 0 ? errno : EIO);
    }
    void close() override {}

  private:
    std::ostream& m_out;
};

// The run's host: the boxes' texts go to standard error, each line's outcome to the receipt,
// and what the lines came to to the summary and the exit status.
class ConsoleHost : public CommandHost, public MessageBoxes, public OutcomeObserver {
  public:
    ConsoleHost(FileServices& files, ProgressDisplay& console, ReceiptWriter& receipt, bool dryRun,
                std::u16string source, std::u16string list)
        : m_files(files), m_console(console), m_receipt(receipt), m_dryRun(dryRun),
          m_source(std::move(source)), m_list(std::move(list)) {}

    int finish() {
        m_console.clear();
        m_receipt.close();
        if (!m_inputMissing && m_dryRun)
            m_console.say("dry run, nothing written: " + std::to_string(m_created) +
                          " would create, " + std::to_string(m_replaced) + " would replace, " +
                          std::to_string(m_inPlace) + " would write in place, " +
                          std::to_string(m_skipped) + " would skip, " + std::to_string(m_refused) +
                          " would refuse, " + std::to_string(m_failed) + " would fail");
        else if (!m_inputMissing)
            m_console.say(std::to_string(m_created) + " created, " + std::to_string(m_replaced) +
                          " replaced, " + std::to_string(m_inPlace) + " written in place, " +
                          std::to_string(m_skipped) + " skipped, " + std::to_string(m_refused) +
                          " refused, " + std::to_string(m_failed) + " failed");
        if (m_receipt.failed())
            return kUsageError;
        if (m_inputMissing)
            return kInputMessage;
        return m_notCopied || m_errorReport || m_notDurable ? kSomeNotCopied : 0;
    }

    // CommandHost
    std::u16string text1() const override { return m_source; }
    std::u16string text2() const override { return m_list; }
    bool busy() const override { return m_busy; }
    void setBusy(bool busy) override { m_busy = busy; }
    int mousePointer() const override { return m_pointer; }
    void setMousePointer(int pointer) override { m_pointer = pointer; }
    MessageBoxes& messageBoxes() override { return *this; }
    FileServices& fileServices() override { return m_files; }
    OutcomeObserver* outcomeObserver() override { return this; }

    // MessageBoxes: each line of the text, the report's empty line dropped.
    int msgBox(std::u16string_view prompt, int, std::u16string_view) override {
        std::size_t start = 0;
        while (start <= prompt.size()) {
            std::size_t end = prompt.find_first_of(u"\r\n", start);
            if (end == prompt.npos)
                end = prompt.size();
            if (end > start)
                m_console.say(utf8(prompt.substr(start, end - start)));
            start = end + (prompt.substr(end).starts_with(u"\r\n") ? 2 : 1);
        }
        return MsgBoxOk;
    }
    std::u16string applicationTitle() const override { return u"Quorvane"; }
    void setApplicationTitle(std::u16string_view) override {}

    // OutcomeObserver
    void inputMissing(MissingInput) override { m_inputMissing = true; }
    void errorReported(int, std::u16string_view description) override {
        m_errorReport = true;
        // A failure that left the copy of a line is that line's outcome.
        if (m_handing && !m_told)
            row("failed", description);
    }
    void lines(int count) override {
        m_console.start(count);
        if (startsBigEndian(m_files, m_list))
            m_console.say("the list starts with FE FF, the mark of big-endian UTF-16, but is read "
                          "as little-endian UTF-16, as the window reads it: its names will not be "
                          "the ones meant");
    }
    void blank(int index) override {
        m_handing = false;
        m_index = index;
        m_name.clear();
        row("blank", {});
        m_console.show(index);
    }
    bool handing(int index, std::u16string_view name) override {
        m_handing = !m_receipt.failed();
        m_told = false;
        m_index = index;
        m_name = name;
        m_console.show(index);
        return m_handing;
    }
    void skipped(Skip why, std::u16string_view detail) override {
        ++m_skipped;
        // Only a missing folder or a name that names nothing is a skip a script may expect.
        m_notCopied |= why == Skip::NoSource || why == Skip::FolderUnreachable;
        row(why == Skip::NoSource ? "no-source"
            : why == Skip::NoName ? "no-name"
                                  : "no-folder",
            detail);
    }
    void copied(std::u16string_view match, CopyOutcome outcome,
                std::u16string_view written) override {
        static constexpr const char* kDone[] = {"created", "replaced", "in-place"};
        static constexpr const char* kWould[] = {"would-create", "would-replace", "would-in-place"};
        const auto at = static_cast<std::size_t>(outcome);
        ++(outcome == CopyOutcome::Created    ? m_created
           : outcome == CopyOutcome::Replaced ? m_replaced
                                              : m_inPlace);
        std::u16string detail(match);
        if (!written.empty())
            detail += (match.empty() ? u"" : u": ") + std::u16string(written);
        row(m_dryRun ? kWould[at] : kDone[at], detail);
    }
    void notCopied(std::u16string_view match, const PlatformError& failure) override {
        m_notCopied = true;
        std::u16string detail(failure.refusal() == Refusal::None ? failure.description()
                                                                 : refusalName(failure.refusal()));
        if (!match.empty())
            detail = std::u16string(match) + u": " + detail;
        ++(failure.refusal() == Refusal::None ? m_failed : m_refused);
        row(failure.refusal() == Refusal::None ? "failed" : "refused", detail);
    }
    void notDurable(const PlatformError& failure) override {
        m_console.say("what was copied may not be on disk: " + utf8(failure.description()));
        m_notDurable = true;
    }
    // Nothing written by a dry run, lines left uncopied by a receipt that failed, copies that
    // may not be on disk.
    bool ended() override { return !m_dryRun && !m_receipt.failed() && !m_notDurable; }

  private:
    void row(std::string_view outcome, std::u16string_view detail) {
        m_told = true;
        m_receipt.row(m_index, m_name, outcome, detail);
    }

    FileServices& m_files;
    ProgressDisplay& m_console;
    ReceiptWriter& m_receipt;
    bool m_dryRun;
    std::u16string m_source, m_list;
    bool m_busy = false;
    int m_pointer = PointerDefault;
    int m_index = 0;
    std::u16string m_name;
    bool m_handing = false, m_told = false;
    bool m_inputMissing = false, m_errorReport = false, m_notCopied = false, m_notDurable = false;
    int m_created = 0, m_replaced = 0, m_inPlace = 0, m_skipped = 0, m_refused = 0, m_failed = 0;
};

// Options first or among the inputs; "--" ends them. Nothing when the line is not usable.
std::optional<Options> parse(const std::vector<std::u16string>& arguments, std::ostream& err) {
    Options options;
    bool ended = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        if (ended || argument.empty() || argument == u"-" || !argument.starts_with(u"-")) {
            options.inputs.push_back(argument);
        } else if (argument == u"--") {
            ended = true;
        } else if (argument == u"--dry-run") {
            options.dryRun = true;
        } else if (argument == u"--one-at-a-time") {
            options.oneAtATime = true;
        } else if (argument == u"--verbose") {
            options.verbose = true;
        } else if (argument == u"--receipt" && i + 1 < arguments.size()) {
            options.receipt = arguments[++i];
        } else if (argument.starts_with(u"--receipt=")) {
            options.receipt = argument.substr(10);
        } else {
            err << "quorvane-batch: unknown option or missing value: " << utf8(argument) << '\n';
            return std::nullopt;
        }
    }
    if (options.inputs.size() != 2) {
        err << "quorvane-batch: expected FILE and LIST\n";
        return std::nullopt;
    }
    return options;
}

// An input as the window's box would hold it; a path of this system in Windows form. One that
// Windows rules cannot carry names nothing (U+0000 never names a file) rather than another.
std::u16string asBoxText(FileServices& files, const std::u16string& argument) {
    std::optional<std::u16string> mapped = files.mapNativeName(argument);
    if (!mapped)
        return argument;
    return mapped->empty() ? argument + u'\0' : *mapped;
}

// True when the receipt is the list, the file to copy or one of its matches.
bool namesAnInput(FileServices& files, OutputFile& receipt, std::u16string_view source,
                  std::u16string_view list) {
    if (receipt.isFileAt(list))
        return true;
    const std::u16string tidy = TidySeparators(source);
    if (!hasWildcard(tidy))
        return receipt.isFileAt(tidy);
    std::vector<std::u16string> matches;
    try {
        matches = files.findOrdinaryFiles(tidy, SIZE_MAX);
    } catch (const PlatformError&) {
        return false; // the run's own look-up reports it
    }
    const std::u16string folder = FolderOf(tidy);
    return std::any_of(matches.begin(), matches.end(), [&](const std::u16string& match) {
        return receipt.isFileAt(folder + match);
    });
}

// True when a name may match a search pattern: * any run, ? one character, letters in either
// case, a final ".*" also no extension, trailing dots and spaces dropped as Windows drops them.
// Where the host tells case apart it matches fewer names, never more.
bool mayMatch(std::u16string_view pattern, std::u16string_view name) {
    pattern = pattern.substr(0, pattern.find_last_not_of(u". ") + 1);
    const auto fold = [](char16_t c) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
    };
    // matched[j]: the pattern so far matches the name's first j characters.
    std::vector<bool> matched(name.size() + 1, false), next(name.size() + 1);
    matched[0] = true;
    for (const char16_t p : pattern) {
        for (std::size_t j = 0; j <= name.size(); ++j)
            next[j] = p == u'*'
                          ? matched[j] || (j > 0 && next[j - 1])
                          : j > 0 && matched[j - 1] && (p == u'?' || fold(p) == fold(name[j - 1]));
        matched.swap(next);
    }
    return matched[name.size()] ||
           (pattern.ends_with(u".*") && mayMatch(pattern.substr(0, pattern.size() - 2), name));
}

// True when a path of an input, the source's pattern included, names a receipt not made yet
// by its folder and name: then it would be taken as that input once made.
bool wouldNameIt(std::u16string_view input, std::u16string_view receipt) {
    const auto split = [](std::u16string_view path) {
        const std::size_t last = path.find_last_of(u"\\/") + 1;
        const std::u16string folder(path.substr(0, last));
        return std::pair(identityAt(folder.empty() ? u"." : folder), path.substr(last));
    };
    const std::u16string tidy = TidySeparators(input);
    const auto [inputFolder, pattern] = split(tidy);
    const auto [receiptFolder, name] = split(receipt);
    return receiptFolder && receiptFolder == inputFolder && mayMatch(pattern, name);
}

} // namespace

int RunBatch(const std::vector<std::u16string>& arguments, FileServices& files,
             BatchConsole& console) {
    for (const std::u16string& argument : arguments) {
        if (argument == u"--help") {
            console.out << kUsage;
            return 0;
        }
        if (argument == u"--version") {
            console.out << "quorvane-batch " QUORVANE_VERSION "\n";
            return 0;
        }
    }
    const std::optional<Options> options = parse(arguments, console.err);
    if (!options) {
        console.err << kUsage;
        return kUsageError;
    }
    const std::u16string source = asBoxText(files, options->inputs[0]);
    const std::u16string list = asBoxText(files, options->inputs[1]);
    ProgressDisplay progress(console.err, console.errIsTerminal);
    // A closed pipe is a receipt that cannot be written, to be said, not the end.
    keepRunningOnClosedPipes();
    std::unique_ptr<OutputFile> receipt;
    if (options->receipt) {
        const bool toStandardOutput = *options->receipt == u"-";
        const std::u16string path = toStandardOutput ? u"" : asBoxText(files, *options->receipt);
        const auto refuseAsAnInput = [&] {
            progress.say("the receipt " + utf8(*options->receipt) +
                         " is the file to copy or the list; nothing was done");
            return kUsageError;
        };
        // Decided before it is made, so that nothing is left behind.
        if (!toStandardOutput && !identityAt(path) &&
            (wouldNameIt(source, path) || wouldNameIt(list, path)))
            return refuseAsAnInput();
        try {
            receipt = toStandardOutput ? std::make_unique<StandardOutput>(console.out)
                                       : openOutputFile(path);
            // Emptied only once it is known to be neither input.
            if (namesAnInput(files, *receipt, source, list))
                return refuseAsAnInput();
            receipt->clear();
            // Copied over, it would lose its name, and the rows after that line with it.
            if (const std::optional<FileIdentity> written = receipt->identity())
                files.guardFile(*written);
        } catch (const PlatformError& failure) {
            cannotWriteReceipt(progress, *options->receipt, failure);
            return kUsageError;
        }
    }
    ReceiptWriter writer(receipt.get(), options->receipt.value_or(u""), progress);
    // Told only during this run: the services outlive it.
    const struct Untell {
        FileServices& files;
        ~Untell() { files.tellWritingAhead({}); }
    } untell{files};
    if (options->verbose)
        files.tellWritingAhead([&](std::u16string_view text) { progress.say(utf8(text)); });
    CheckingFiles checking(files);
    OneAtATimeFileServices oneAtATime(files);
    FileServices& used = options->dryRun ? checking : options->oneAtATime ? oneAtATime : files;
    ConsoleHost host(used, progress, writer, options->dryRun, source, list);
    PushButton3_Click(host);
    return host.finish();
}
