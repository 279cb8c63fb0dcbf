#pragma once

#include "views/popover/popover_actions.h"

#include <QAbstractButton>
#include <QWidget>

namespace orvane {

class AppStore;
class ChromeSetting;

// "Neuer Timer": plays the generic haptic and asks for the session flow.
void newTimerTapped(const PopoverActions& actions);

// The "Neuer Timer" row: an icon tile, title and path, a chevron.
class NewTimerButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit NewTimerButton(ChromeSetting& chrome, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ChromeSetting& m_chrome;
};

// "SCHNELLSTART" with the new-session shortcut's hint, and the "Neuer Timer"
// row that opens the session flow.
class QuickStartSection : public QWidget {
    Q_OBJECT
public:
    QuickStartSection(AppStore& store, ChromeSetting& chrome, PopoverActions actions,
                      QWidget* parent = nullptr);

    NewTimerButton* newTimerButton() const { return m_button; }

private:
    PopoverActions m_actions;
    NewTimerButton* m_button;
};

} // namespace orvane
