#pragma once

#include "store/appearance.h"
#include "views/kit/fonts.h"

#include <QAbstractButton>
#include <QColor>
#include <QWidget>

class QTimer;

namespace orvane {

// The small pieces the picker is drawn with. None takes the keyboard focus:
// the search field keeps it, and a click never takes it away.

// The square back button of the step header.
class FlowBackButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit FlowBackButton(QWidget* parent = nullptr);
    void setLight(bool light);
    QSize sizeHint() const override { return {30, 30}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool light_ = false;
};

// Three capsules: where the user stands in client, job and task.
class FlowStepIndicator : public QWidget {
    Q_OBJECT
public:
    explicit FlowStepIndicator(QWidget* parent = nullptr);
    void setStep(int step, bool light);
    int step() const { return step_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int step_ = 0;
    bool light_ = false;
};

// An indeterminate spinner; it turns only while on screen.
class FlowSpinner : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSide = 20;
    explicit FlowSpinner(QWidget* parent = nullptr);
    void setColour(const QColor& colour);
    bool isSpinning() const;
    QSize sizeHint() const override { return {kSide, kSide}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor colour_;
    QTimer* timer_;
    int phase_ = 0;
};

// The primary capsule of an empty state ("Erneut laden") in the accent fill.
class FlowCapsuleButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit FlowCapsuleButton(const QString& title, QWidget* parent = nullptr);
    void setAccentStyle(AccentStyle style);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AccentStyle style_ = AccentStyle::Gradient;
};

// The second, text-only button of an empty state, in indigo.
class FlowLinkButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit FlowLinkButton(const QString& title, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Plain text on one line, cut with "…" when it does not fit.
class FlowElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit FlowElidedLabel(QFont font, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    void setColour(const QColor& colour);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QFont font_;
    QColor colour_;
};

// A symbol of the kit at a point size.
class FlowSymbol : public QWidget {
    Q_OBJECT
public:
    FlowSymbol(QString name, qreal pointSize, FontWeight weight, QSize box,
               QWidget* parent = nullptr);
    void setName(const QString& name);
    void setColour(const QColor& colour);
    QSize sizeHint() const override { return box_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    qreal pointSize_;
    FontWeight weight_;
    QSize box_;
    QColor colour_;
};

// The rounded field behind the search row.
class FlowSearchBox : public QWidget {
    Q_OBJECT
public:
    explicit FlowSearchBox(QWidget* parent = nullptr);
    void setLight(bool light);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool light_ = false;
};

} // namespace orvane
