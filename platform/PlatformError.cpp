#include "platform/PlatformError.h"

#include <cerrno>

PlatformError PlatformError::refused(Refusal refusal) {
    switch (refusal) {
    case Refusal::ReadOnly:
        return {u"The destination is read-only.", EACCES, refusal};
    case Refusal::Hidden:
        return {u"The destination is a hidden file.", EACCES, refusal};
    case Refusal::SameFile:
        return {u"The source and the destination are the same file.", EEXIST, refusal};
    case Refusal::NotWritable:
        return {u"The destination may not be written.", EACCES, refusal};
    case Refusal::Folder:
        return {u"The destination is a folder.", EISDIR, refusal};
    case Refusal::NotRegular:
        return {u"Not an ordinary file.", EINVAL, refusal};
    case Refusal::DanglingLink:
        return {u"The destination is a link to nothing.", ENOENT, refusal};
    case Refusal::Acl:
        return {u"The destination's access control list cannot be kept.", ENOTSUP, refusal};
    case Refusal::SourceChanged:
        return {u"The source changed during the copy.", EAGAIN, refusal};
    case Refusal::None:
        break;
    }
    return {u"Refused.", EINVAL, refusal};
}
