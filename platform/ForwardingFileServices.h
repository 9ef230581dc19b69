#pragma once

#include "platform/FileServices.h"

// File services that pass every call on to other services: the base of a decorator, which
// overrides only the calls it changes, or watches each call go by.
class ForwardingFileServices : public FileServices {
  public:
    explicit ForwardingFileServices(FileServices& real) : m_real(real) {}

    std::int64_t lastModified(std::u16string_view path) override {
        before("lastModified", path);
        return m_real.lastModified(path);
    }
    std::uint32_t attributes(std::u16string_view path) override {
        before("attributes", path);
        return m_real.attributes(path);
    }
    bool probeFolder(std::u16string_view path) override {
        before("probeFolder", path);
        return m_real.probeFolder(path);
    }
    bool openExisting(std::u16string_view path) override {
        before("openExisting", path);
        return m_real.openExisting(path);
    }
    std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                  std::size_t limit) override {
        before("findOrdinaryFiles", pattern);
        return m_real.findOrdinaryFiles(pattern, limit);
    }
    std::int64_t fileLength(std::u16string_view path) override {
        before("fileLength", path);
        return m_real.fileLength(path);
    }
    std::string readFileBytes(std::u16string_view path) override {
        before("readFileBytes", path);
        return m_real.readFileBytes(path);
    }
    std::unique_ptr<InputFile> openForReading(std::u16string_view path) override {
        before("openForReading", path);
        return m_real.openForReading(path);
    }
    std::size_t decodeAnsi(std::string_view bytes, bool atStart, bool last,
                           std::u16string& text) override {
        before("decodeAnsi", {});
        return m_real.decodeAnsi(bytes, atStart, last, text);
    }
    void copyFile(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener) override {
        before("copyFile", destination);
        m_real.copyFile(source, destination, listener);
    }
    void checkCopy(std::u16string_view source, std::u16string_view destination,
                   CopyListener& listener) override {
        before("checkCopy", destination);
        m_real.checkCopy(source, destination, listener);
    }
    void
    planCopies(std::u16string_view source, std::size_t lines,
               std::function<std::optional<std::u16string>(std::size_t)> destination) override {
        before("planCopies", source);
        m_real.planCopies(source, lines, std::move(destination));
    }
    void tellWritingAhead(std::function<void(std::u16string_view)> tell) override {
        m_real.tellWritingAhead(std::move(tell));
    }
    void guardFile(const FileIdentity& file) override {
        before("guardFile", {});
        m_real.guardFile(file);
    }
    std::optional<std::u16string> mapNativeName(std::u16string_view name) override {
        before("mapNativeName", name);
        return m_real.mapNativeName(name);
    }
    void makeDurable() override {
        before("makeDurable", {});
        m_real.makeDurable();
    }
    std::u16string installationFolder() override {
        before("installationFolder", {});
        return m_real.installationFolder();
    }

  protected:
    FileServices& real() { return m_real; }
    // Runs before each call is passed on, with the call's name and the path it is about (a
    // copy's destination; none where it has no path).
    virtual void before(std::string_view, std::u16string_view) {}

  private:
    FileServices& m_real;
};

// File services that copy each target only at its own turn: nothing is written ahead.
class OneAtATimeFileServices : public ForwardingFileServices {
  public:
    using ForwardingFileServices::ForwardingFileServices;

    void planCopies(std::u16string_view, std::size_t,
                    std::function<std::optional<std::u16string>(std::size_t)>) override {}
};
