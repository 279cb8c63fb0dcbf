#pragma once

#include "store/appearance.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <optional>

namespace orvane {

// The caption as the card shows it.
QString statCardTitleText(const QString& title);
// `valueForeground` when given, else indigo for an accent value, else the
// primary text colour.
QColor statCardValueColor(bool useAccentValue, const std::optional<QColor>& valueForeground);

// "Start 09:41, heute": what a card says to a screen reader unless told otherwise.
QString statCardSpokenText(const QString& title, const QString& value, const QString& subtitle);

// A dark card with an upper-case caption, a large figure (already formatted by
// the caller) and a line under it. It takes the width it is given.
class StatCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPadding = 14;
    static constexpr int kSpacing = 6;
    static constexpr qreal kCornerRadius = 16;

    StatCard(const QString& title, const QString& value, const QString& subtitle,
             AccentStyle accentStyle = AccentStyle::Gradient, bool useAccentValue = false,
             std::optional<QColor> valueForeground = std::nullopt, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    QString value() const { return m_value; }
    void setValue(const QString& value);
    QString subtitle() const { return m_subtitle; }
    void setSubtitle(const QString& subtitle);
    // Held with the card; the drawing does not depend on it.
    AccentStyle accentStyle() const { return m_accentStyle; }
    void setAccentStyle(AccentStyle style) { m_accentStyle = style; }
    bool useAccentValue() const { return m_useAccentValue; }
    void setUseAccentValue(bool useAccentValue);
    std::optional<QColor> valueForeground() const { return m_valueForeground; }
    void setValueForeground(std::optional<QColor> color);
    // The card as a sentence for screen readers where the figures read better
    // in words ("2 Stunden 30" for 2:30); empty: title, value and subtitle.
    void setSpokenText(const QString& spoken);

    QString shownTitle() const { return statCardTitleText(m_title); }
    QColor valueColor() const { return statCardValueColor(m_useAccentValue, m_valueForeground); }

    static QFont titleFont();
    static QFont valueFont();
    static QFont subtitleFont();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();
    void nameChanged();

    QString m_title;
    QString m_value;
    QString m_subtitle;
    AccentStyle m_accentStyle;
    bool m_useAccentValue;
    std::optional<QColor> m_valueForeground;
    QString m_spoken;
};

} // namespace orvane
