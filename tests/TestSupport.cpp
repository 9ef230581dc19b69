#include "tests/TestSupport.h"

#include "base/Text.h"
#include "platform/Host.h"
#include "platform/PlatformError.h"
#ifdef _WIN32
#include <windows.h>
#endif

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

TempDir::TempDir(const std::filesystem::path& in) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = in / ("quorvane-test." + std::to_string(random()));
        if (std::filesystem::create_directory(m_path))
            return;
    }
    throw std::runtime_error("cannot make a test folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only files and folders left by a test must not stop the clean-up.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::u16string win(const std::filesystem::path& path) {
    return windowsFormOf(path);
}

void hide([[maybe_unused]] const std::filesystem::path& path) {
#ifdef _WIN32
    ::SetFileAttributesW(path.c_str(), ::GetFileAttributesW(path.c_str()) | FILE_ATTRIBUTE_HIDDEN);
#endif
}

void makeReadOnly(const std::filesystem::path& path) {
    using std::filesystem::perms;
    std::filesystem::permissions(path,
                                 perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
}

bool symlinkIfSupported(const std::filesystem::path& to, const std::filesystem::path& link) {
    std::error_code error;
    std::filesystem::create_symlink(to, link, error);
    return !error;
}

bool underWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

bool hostIsUtf8() {
    std::u16string text;
    hostFileServices()->decodeAnsi("\xC3\xA9", true, true, text);
    return text == u"\u00E9";
}

std::string narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

int RecordingBoxes::msgBox(std::u16string_view prompt, int style, std::u16string_view title) {
    shown.push_back({std::u16string(prompt), style, std::u16string(title)});
    if (onShow)
        onShow(shown.back());
    return answer;
}

std::vector<int> RecordingBoxes::reportedLines() const {
    std::vector<int> lines;
    for (const ShownBox& box : shown)
        if (box.title == u"Application Error")
            lines.push_back(std::stoi(narrow(box.prompt.substr(box.prompt.find(u"at line ") + 8))));
    return lines;
}

FaultyFileServices::FaultyFileServices() : FaultyFileServices(hostFileServices()) {}

FaultyFileServices::FaultyFileServices(std::unique_ptr<FileServices> real)
    : ForwardingFileServices(*real), m_real(std::move(real)) {}

void FaultyFileServices::failOn(std::string call, int nth) {
    m_failCall = std::move(call);
    m_failAt = nth;
    m_seen = 0;
}

void FaultyFileServices::before(std::string_view call, std::u16string_view path) {
    const std::string name(call);
    calls.push_back(name + ":" + narrow(path));
    if (onCall)
        onCall(name);
    if (name == m_failCall && ++m_seen == m_failAt)
        throw PlatformError(u"Injected " + std::u16string(name.begin(), name.end()) + u" failure");
}

std::int64_t FaultyFileServices::fileLength(std::u16string_view path) {
    if (lengthOverride < 0)
        return ForwardingFileServices::fileLength(path);
    before("fileLength", path);
    return lengthOverride;
}

std::u16string FaultyFileServices::installationFolder() {
    if (installationFolderOverride.empty())
        return ForwardingFileServices::installationFolder();
    before("installationFolder", {});
    return installationFolderOverride;
}

std::string copyOutcome(FileServices& files, std::u16string_view source,
                        std::u16string_view target) {
    try {
        RecordingListener listener;
        files.copyFile(source, target, listener);
        return "copied";
    } catch (const PlatformError& error) {
        return refused(error.refusal());
    }
}

std::string copyResult(FileServices& files, std::u16string_view source, std::u16string_view target,
                       bool dryRun) {
    RecordingListener listener;
    try {
        if (dryRun)
            files.checkCopy(source, target, listener);
        else
            files.copyFile(source, target, listener);
    } catch (const PlatformError& error) {
        return refused(error.refusal());
    }
    static const char* const kOutcomes[] = {"created", "replaced", "in place"};
    return listener.outcomes.size() == 1 ? kOutcomes[static_cast<int>(listener.outcomes[0])]
                                         : "told " + std::to_string(listener.outcomes.size());
}

std::string refused(Refusal refusal) {
    return "refused " + std::to_string(static_cast<int>(refusal));
}

std::vector<std::string> leftovers(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".quorvane-"))
            found.push_back(entry.path().string());
    return found;
}

void TestHost::enter(const std::string& name) const {
    if (name == failCall && ++m_seen == failAt)
        throw PlatformError(u"Injected host failure");
}

std::u16string TestHost::text1() const {
    enter("text1");
    return source;
}

std::u16string TestHost::text2() const {
    enter("text2");
    return list;
}

bool TestHost::busy() const {
    enter("busy");
    return busyFlag;
}

void TestHost::setBusy(bool value) {
    enter("setBusy");
    busyFlag = value;
}

void TestHost::setMousePointer(int value) {
    enter("setMousePointer");
    pointer = value;
}
