#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

// A private temporary folder for test documents, removed with its content on destruction.
class XmlTestFiles {
public:
    XmlTestFiles() {
        std::string pattern = (std::filesystem::temp_directory_path() / "h2-xml-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~XmlTestFiles() { std::filesystem::remove_all(dir_, ignored_); }
    XmlTestFiles(const XmlTestFiles&) = delete;
    XmlTestFiles& operator=(const XmlTestFiles&) = delete;

    // Writes content to name inside the folder and returns the full path.
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::wstring WriteWide(const std::string& name, const std::string& content) const {
        const std::string path = Write(name, content);
        return std::wstring(path.begin(), path.end());
    }

private:
    std::string dir_;
    std::error_code ignored_;
};
