#pragma once

#include "service/orvane_api_error.h"

#include <QString>

#include <exception>
#include <optional>

namespace orvane {

// The service error inside `error`, if that is what it holds.
std::optional<OrvaneAPIError> apiError(const std::exception_ptr& error);
// The German text the user is shown for `error`.
QString describeError(const std::exception_ptr& error);

} // namespace orvane
