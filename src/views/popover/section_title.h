#pragma once

#include <QWidget>

#include <optional>

namespace orvane {

class ChromeSetting;

// A section's title in the shared title style, with an optional shortcut
// hint at its trailing end.
class SectionTitle : public QWidget {
    Q_OBJECT
public:
    SectionTitle(QString text, ChromeSetting& chrome, std::optional<QChar> hintKey = std::nullopt,
                 QWidget* parent = nullptr);

    QString text() const { return m_text; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    ChromeSetting& m_chrome;
    std::optional<QChar> m_hintKey;
};

} // namespace orvane
