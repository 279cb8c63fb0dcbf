#include "store/error_text.h"

namespace orvane {

std::optional<OrvaneAPIError> apiError(const std::exception_ptr& error) {
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const OrvaneAPIError& e) {
        return e;
    } catch (...) {
    }
    return std::nullopt;
}

QString describeError(const std::exception_ptr& error) {
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const Error& e) {
            if (QString text = e.localizedDescription(); !text.isEmpty())
                return text;
            return QString::fromUtf8(e.what());
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        } catch (...) {
        }
    }
    return QStringLiteral("Unbekannter Fehler");
}

} // namespace orvane
