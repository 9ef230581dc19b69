#include "platform/Console.h"
#include "platform/Host.h"

#include "base/Text.h"
#include "platform/posix/PosixFileServices.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/WindowsPath.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<FileIdentity> identityOfFile(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return identityOf(info);
}

class PosixOutputFile : public OutputFile {
  public:
    explicit PosixOutputFile(OsHandle file) : m_file(std::move(file)) {}

    bool isFileAt(std::u16string_view path) override {
        return identityOf(status()) == identityAt(path);
    }
    std::optional<FileIdentity> identity() override { return identityOfFile(fdOf(m_file)); }
    void clear() override {
        if (S_ISREG(status().st_mode) && ::ftruncate(fdOf(m_file), 0) != 0)
            throwErrno();
    }
    void write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fdOf(m_file), bytes.data(), bytes.size());
            if (written < 0 && errno != EINTR)
                throwErrno();
            if (written > 0)
                bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    void close() override {
        // A pipe or a device has nothing to make durable.
        if (::fsync(fdOf(m_file)) != 0 && errno != EINVAL && errno != EROFS)
            throwErrno();
        if (const std::error_code error = m_file.close())
            throw PlatformError::fromCode(error);
    }

  private:
    struct stat status() const {
        struct stat info {};
        if (::fstat(fdOf(m_file), &info) != 0)
            throwErrno();
        return info;
    }

    OsHandle m_file;
};

} // namespace

std::vector<std::u16string> commandLineArguments(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(decodeUtf8Lossless(argv[i]));
    return arguments;
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::optional<FileIdentity> standardOutputIdentity() {
    return identityOfFile(STDOUT_FILENO);
}

std::optional<FileIdentity> identityAt(std::u16string_view path) {
    struct stat info {};
    try {
        if (::stat(toHostPath(path).c_str(), &info) == 0)
            return identityOf(info);
    } catch (const PlatformError&) {
        // no host name: it names nothing
    }
    return std::nullopt;
}

void keepRunningOnClosedPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<OutputFile> openOutputFile(std::u16string_view path) {
    OsHandle file(
        ::open(toHostPath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    if (!file.valid())
        throwErrno();
    return std::make_unique<PosixOutputFile>(std::move(file));
}

std::unique_ptr<FileServices> hostFileServices() {
    return std::make_unique<PosixFileServices>();
}

std::u16string windowsFormOf(const std::filesystem::path& hostPath) {
    return toWindowsPath(hostPath.string());
}
