#pragma once

#include "platform/FileServices.h"

#include <functional>

// What copyFile and checkCopy do on every host, on Windows paths: a plain source goes to the
// destination (into it, when that ends in a separator) and its outcome is told; each ordinary
// match of a wildcard source goes into the destination folder, told by name, its failure too.
// `copyOne` copies or checks one file and throws its failure. False when a wildcard matches
// nothing.
bool copyEachFile(FileServices& files, std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener,
                  const std::function<CopyOutcome(const std::u16string& from,
                                                  const std::u16string& to)>& copyOne);
