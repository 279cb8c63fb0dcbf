#pragma once

#include <QString>

namespace orvane {

// Whole hours (any number of digits) and minutes, "%d:%02d"; seconds are
// dropped and a negative span shows as 0:00.
QString hoursMinutesText(qint64 seconds);

} // namespace orvane
