#include "batch/ReceiptWriter.h"

#include "base/Text.h"
#include "batch/ProgressDisplay.h"
#include "platform/Console.h"
#include "platform/PlatformError.h"

namespace {

std::string utf8(std::u16string_view text) {
    return encodeUtf8Lossless(text).value_or(std::string());
}

} // namespace

std::string receiptText(std::u16string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    const auto escape = [&](unsigned char byte) {
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (pair) {
            out += utf8(text.substr(i++, 2));
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            escape(static_cast<unsigned char>(c - 0xDC00)); // a byte that was no character
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            for (unsigned char byte :
                 {0xE0 | (c >> 12), 0x80 | ((c >> 6) & 0x3F), 0x80 | (c & 0x3F)})
                escape(byte);
        } else if (c < 0x20 || c == 0x7F || c == u'%') {
            escape(static_cast<unsigned char>(c));
        } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            // Two bytes or three, so never taken for a stray byte's one.
            for (char byte : utf8(text.substr(i, 1)))
                escape(static_cast<unsigned char>(byte));
        } else {
            out += utf8(text.substr(i, 1));
        }
    }
    return out;
}

ReceiptWriter::ReceiptWriter(OutputFile* file, std::u16string path, ProgressDisplay& console)
    : m_file(file), m_path(std::move(path)), m_console(console) {}

void ReceiptWriter::row(int index, std::u16string_view name, std::string_view outcome,
                        std::u16string_view detail) {
    if (!m_file || m_failed)
        return;
    std::string text = std::to_string(index + 1) + '\t' + receiptText(name) + '\t';
    text.append(outcome).append("\t").append(receiptText(detail)).append("\n");
    try {
        m_file->write(text);
    } catch (const PlatformError& failure) {
        fail(failure);
    }
}

void ReceiptWriter::close() {
    if (!m_file || m_failed)
        return;
    try {
        m_file->close();
    } catch (const PlatformError& failure) {
        fail(failure);
    }
}

void ReceiptWriter::fail(const PlatformError& failure) {
    cannotWriteReceipt(m_console, m_path, failure);
    m_failed = true;
}

void cannotWriteReceipt(ProgressDisplay& console, std::u16string_view path,
                        const PlatformError& failure) {
    console.say("cannot write the receipt " +
                (path == u"-" ? std::string("to standard output") : utf8(path)) + ": " +
                utf8(failure.description()));
}
