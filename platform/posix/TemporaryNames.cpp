#include "platform/posix/TemporaryNames.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kStart = ".quorvane-";
constexpr std::string_view kEnd = ".tmp";
constexpr std::size_t kIdDigits = 16;
// In the names of a system that tells no machine id: a boot id alone cannot tell this machine's
// ended boots from another machine's, so only names of this boot are ever taken for gone.
constexpr std::string_view kNoMachine = "0000000000000000";

// The first 16 hex digits of an id file such as /etc/machine-id, dashes left out.
std::optional<std::string> idFrom(const char* path) {
    std::ifstream file(path);
    std::string line, id;
    if (!std::getline(file, line))
        return std::nullopt;
    for (const char c : line) {
        if (id.size() == kIdDigits)
            break;
        if (c == '-')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (id.size() != kIdDigits)
        return std::nullopt;
    return id;
}

bool isId(std::string_view text) {
    return text.size() == kIdDigits && text.find_first_not_of("0123456789abcdef") == text.npos;
}

template <typename Number> bool parse(std::string_view text, Number& value, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

std::optional<NameMaker> currentMaker() {
    std::optional<std::string> machine = idFrom("/etc/machine-id");
    if (!machine)
        machine = idFrom("/var/lib/dbus/machine-id");
    std::optional<std::string> boot = idFrom("/proc/sys/kernel/random/boot_id");
    struct stat space {};
    if (!boot || ::stat("/proc/self/ns/pid", &space) != 0)
        return std::nullopt;
    if (!machine)
        machine = std::string(kNoMachine);
    return NameMaker{*machine, *boot, static_cast<std::uint64_t>(space.st_ino), ::getpid()};
}

std::string namePrefix(const std::optional<NameMaker>& maker) {
    std::string prefix(kStart);
    if (maker)
        prefix += maker->machine + '-' + maker->boot + '-' + std::to_string(maker->pidNamespace) +
                  '-' + std::to_string(maker->pid) + '-';
    return prefix;
}

// .quorvane-MACHINE-BOOT-NAMESPACE-PID-RANDOM.tmp
std::optional<NameMaker> makerOf(std::string_view name) {
    if (!name.starts_with(kStart) || !name.ends_with(kEnd))
        return std::nullopt;
    name = name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
    std::string_view parts[5];
    for (std::size_t i = 0; i < 5; ++i) {
        const std::size_t cut = i < 4 ? name.find('-') : name.size();
        if (cut == name.npos)
            return std::nullopt;
        parts[i] = name.substr(0, cut);
        name.remove_prefix(i < 4 ? cut + 1 : cut);
    }
    NameMaker maker;
    std::uint64_t random = 0;
    if (!isId(parts[0]) || !isId(parts[1]) || !parse(parts[2], maker.pidNamespace, 10) ||
        !parse(parts[3], maker.pid, 10) || maker.pid <= 0 || !parse(parts[4], random, 16))
        return std::nullopt;
    maker.machine = parts[0];
    maker.boot = parts[1];
    return maker;
}

bool makerGone(const NameMaker& maker, const NameMaker& self) {
    if (maker.machine != self.machine)
        return false;
    if (maker.boot != self.boot)
        return maker.machine != kNoMachine; // every process of an ended boot is gone
    if (maker.pidNamespace != self.pidNamespace || maker.pid == self.pid)
        return false;
    // A number in use may belong to another process by now: then the name is kept.
    return ::kill(maker.pid, 0) != 0 && errno == ESRCH;
}
