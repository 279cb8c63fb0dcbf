#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace orvane::test {

// An X server (Xvfb, on a display it picks itself) with openbox managing it,
// for as long as this object lives. Both end with the test process, also
// when it crashes.
class XDesktop {
public:
    XDesktop() = default;
    ~XDesktop();
    XDesktop(const XDesktop&) = delete;
    XDesktop& operator=(const XDesktop&) = delete;

    // False (with `whyNot()`) when Xvfb or openbox is missing or does not come up.
    bool start();
    QByteArray display() const { return display_; }

    // Why the suite runs without a window manager; empty when it has one.
    static QString whyNot();

private:
    pid_t server_ = -1;
    pid_t manager_ = -1;
    QByteArray display_;
};

} // namespace orvane::test
