#pragma once

#include <QString>
#include <QWidget>

#include <vector>

namespace orvane {

class ChromeSetting;

// One footer hint: what the shortcut does and its letter.
struct ShortcutHint {
    QString label;
    QChar key;
    bool operator==(const ShortcutHint&) const = default;
};
// "Start/Stopp" with T, then "Neu" with N; "·" stands between them.
std::vector<ShortcutHint> footerShortcutHints();
inline constexpr const char16_t* kShortcutHintSeparator = u"·";

// The footer's content: the two popover shortcuts as hints, leading-aligned,
// in the muted colour. They only describe the keys; nothing here reacts.
// The footer bar around it (padding, background) is the popover's.
class ShortcutHints : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutHints(ChromeSetting& chrome, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ChromeSetting& m_chrome;
};

} // namespace orvane
