#include "platform/error.h"

namespace orvane {

const char* Error::what() const noexcept {
    try {
        what_ = localizedDescription().toUtf8();
    } catch (...) {
        return "orvane::Error";
    }
    return what_.constData();
}

} // namespace orvane
