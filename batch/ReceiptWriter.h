#pragma once

#include <string>
#include <string_view>

class OutputFile;
class PlatformError;
class ProgressDisplay;

// A name or a detail as the receipt writes it: UTF-8, with "%", control characters, the C1
// controls and the line and paragraph separators (line breaks to some readers) and whatever is
// no character at all (a stray byte, a lone surrogate) written as %XX of each of its bytes.
std::string receiptText(std::u16string_view text);

// The receipt: a row for each list line, "line<TAB>name<TAB>outcome<TAB>detail", written as the
// line ends, so that a run stopped at any point has a row for every line that finished. Once a
// row cannot be written it says so, once, and takes no more.
class ReceiptWriter {
  public:
    // No file when no receipt was asked for: rows go nowhere. `path` as the user gave it.
    ReceiptWriter(OutputFile* file, std::u16string path, ProgressDisplay& console);

    // `index` counts from 0; the name is the line's as trimmed.
    void row(int index, std::u16string_view name, std::string_view outcome,
             std::u16string_view detail);
    void close();
    bool failed() const { return m_failed; }

  private:
    void fail(const PlatformError& failure);

    OutputFile* m_file;
    std::u16string m_path;
    ProgressDisplay& m_console;
    bool m_failed = false;
};

// Says on standard error why the receipt at `path` cannot be written.
void cannotWriteReceipt(ProgressDisplay& console, std::u16string_view path,
                        const PlatformError& failure);
