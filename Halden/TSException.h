#pragma once

#include <exception>
#include <string>

namespace Halden {

// Base of the support library's, the XML parser's and the description database's exceptions.
// what() returns the message alone; file and line of the raise site stay in their own fields.
class TSException : public std::exception {
public:
    TSException(const std::string& message, const std::string& file, int line);
    ~TSException() override;

    const char* what() const noexcept override;

    const std::string& message() const { return message_; }
    const std::string& file() const { return file_; }
    int line() const { return line_; }

private:
    std::string message_;
    std::string file_;
    int line_;
};

}  // namespace Halden
