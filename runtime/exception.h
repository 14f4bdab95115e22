// The error classes of the installer. A stage catches what it expects at its
// own boundary; whatever nobody catches ends the run with a generic box.
#pragma once

#include <string>
#include <utility>

class Exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    virtual ~Exception() = default;
    const std::string& Message() const { return message_; }
    virtual const char* ClassName() const { return "Exception"; }

private:
    std::string message_;
};

class ERegistryException : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const override { return "ERegistryException"; }
};
