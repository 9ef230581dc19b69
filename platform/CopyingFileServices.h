#pragma once

#include "platform/CopySequence.h"
#include "platform/FileServices.h"
#include "platform/WriteAhead.h"

// The file services' copies, alike on every host: each goes through the copy sequence on the
// host's primitives. A plain source goes to the destination (into it, when that ends in a
// separator) and its outcome is told; each ordinary match of a wildcard source goes into the
// destination folder, told by name, its failure too.
class CopyingFileServices : public FileServices {
  public:
    void copyFile(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener) override;
    void checkCopy(std::u16string_view source, std::u16string_view destination,
                   CopyListener& listener) override;
    void planCopies(std::u16string_view source, std::size_t lines,
                    std::function<std::optional<std::u16string>(std::size_t)> destination) override;
    void tellWritingAhead(std::function<void(std::u16string_view)> tell) override {
        m_tell = std::move(tell);
    }
    void guardFile(const FileIdentity& file) override;
    // Ends the plan: the files written ahead and not asked for go.
    void makeDurable() override;
    // Tells `observer` (a test's) at each point of every later copy; none when null.
    void observeCopies(CopyObserver* observer) { m_copy.observe(observer); }

  protected:
    // `makeHost` gives each writer ahead primitives of its own.
    CopyingFileServices(CopyPrimitives& primitives, WriteAhead::MakeHost makeHost)
        : m_primitives(primitives), m_makeHost(std::move(makeHost)), m_copy(primitives) {}

    // A Windows path in the host's form; throws PlatformError where the host cannot carry it.
    virtual HostString hostPath(std::u16string_view path) = 0;
    // A host path in the Windows form a list uses.
    virtual std::u16string windowsPath(const HostString& path) = 0;
    // The host form of the file to copy, which every line names alike: mapped once.
    const HostString& hostSource(std::u16string_view path);

  private:
    void copyEach(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener, bool checkOnly);

    CopyPrimitives& m_primitives;
    WriteAhead::MakeHost m_makeHost;
    std::u16string m_source;
    HostString m_hostSource;
    CopySequence m_copy;
    WriteAhead::Tell m_tell;
    std::unique_ptr<WriteAhead> m_ahead;
};
