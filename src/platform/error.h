#pragma once

#include <QString>

#include <exception>

namespace orvane {

// Base of every error the program throws: each carries the German text that
// the user is shown.
class Error : public std::exception {
public:
    virtual QString localizedDescription() const = 0;
    const char* what() const noexcept override;

private:
    mutable QByteArray what_;
};

} // namespace orvane
