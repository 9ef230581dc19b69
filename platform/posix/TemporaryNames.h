#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Who made a temporary name: the machine, its boot, the PID namespace and the process. A name
// that carries them lets a later run tell a name whose maker is gone (left by a crash or a
// power cut) from one a live copy is still using, here or on another machine sharing the folder.
struct NameMaker {
    std::string machine; // 16 hex digits of the machine's id, zeros where it has none
    std::string boot;    // 16 hex digits of this boot's id
    std::uint64_t pidNamespace = 0;
    pid_t pid = 0;

    bool operator==(const NameMaker&) const = default;
};

// This process, or nothing where the system does not tell its boot or namespace.
std::optional<NameMaker> currentMaker();
// The start of every temporary name `maker` makes: ".quorvane-" and the maker's marks, each
// followed by '-'. Without a maker, the bare ".quorvane-", which no later run ever takes for gone.
std::string namePrefix(const std::optional<NameMaker>& maker);
// The maker a temporary name carries; nothing for any other name.
std::optional<NameMaker> makerOf(std::string_view name);
// Whether the maker of a name is surely gone, seen from `self`: the same machine, and either a
// boot that has ended or, in this boot and PID namespace, a process that no longer exists. A
// name from another machine or another namespace, or from an ended boot of a machine without an
// id, is never taken for gone.
bool makerGone(const NameMaker& maker, const NameMaker& self);
