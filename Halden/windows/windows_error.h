#pragma once

#include <stdexcept>
#include <string>

// A failed operating-system call in the thread layer. Construct it right after the failed
// call: the constructor reads the thread's last error, and what() returns the message with
// " (Windows error code: N )" appended.
class windows_error : public std::logic_error {
public:
    explicit windows_error(const std::string& message);
    ~windows_error() override;

    const char* what() const noexcept override;

private:
    std::string fullText_;
};
