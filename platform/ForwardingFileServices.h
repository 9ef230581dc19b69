#pragma once

#include "platform/FileServices.h"

// File services that pass every call on to other services: the base of a decorator, which
// overrides only the calls it changes.
class ForwardingFileServices : public FileServices {
  public:
    explicit ForwardingFileServices(FileServices& real) : m_real(real) {}

    std::int64_t lastModified(std::u16string_view path) override {
        return m_real.lastModified(path);
    }
    std::uint32_t attributes(std::u16string_view path) override { return m_real.attributes(path); }
    bool probeFolder(std::u16string_view path) override { return m_real.probeFolder(path); }
    bool openExisting(std::u16string_view path) override { return m_real.openExisting(path); }
    std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                  std::size_t limit) override {
        return m_real.findOrdinaryFiles(pattern, limit);
    }
    std::int64_t fileLength(std::u16string_view path) override { return m_real.fileLength(path); }
    std::string readFileBytes(std::u16string_view path) override {
        return m_real.readFileBytes(path);
    }
    std::unique_ptr<InputFile> openForReading(std::u16string_view path) override {
        return m_real.openForReading(path);
    }
    std::size_t decodeAnsi(std::string_view bytes, bool atStart, bool last,
                           std::u16string& text) override {
        return m_real.decodeAnsi(bytes, atStart, last, text);
    }
    void copyFile(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener) override {
        m_real.copyFile(source, destination, listener);
    }
    void checkCopy(std::u16string_view source, std::u16string_view destination,
                   CopyListener& listener) override {
        m_real.checkCopy(source, destination, listener);
    }
    void guardFile(const FileIdentity& file) override { m_real.guardFile(file); }
    std::optional<std::u16string> mapNativeName(std::u16string_view name) override {
        return m_real.mapNativeName(name);
    }
    void makeDurable() override { m_real.makeDurable(); }
    std::u16string installationFolder() override { return m_real.installationFolder(); }

  protected:
    FileServices& real() { return m_real; }

  private:
    FileServices& m_real;
};
