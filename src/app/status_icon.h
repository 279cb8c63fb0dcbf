#pragma once

#include "app/menu_bar_pill_view.h"

#include <QImage>
#include <QList>
#include <QTemporaryDir>

namespace orvane {

// The panel item's icon: the app icon with the pill's state as a small badge
// (a pink dot while a timer runs, a pause glyph while idle), drawn on a dark
// disc with a light rim so it reads on light and on dark panels alike.
QImage statusIconImage(PillContent::Kind kind, int size);
// 16, 22, 32 and 48 pixels.
QList<QImage> statusIconImages(PillContent::Kind kind);

// What the panel item's icon shows: panels that draw no label (XFCE's and
// LXQt's status trays, Plasma) show the running clock only through the icon,
// so while a timer runs the icon carries its hours and minutes ("1:02" from
// "01:02:05"); otherwise the app icon with its badge. Changes once a minute.
struct StatusIconFace {
    PillContent::Kind kind = PillContent::Kind::SignedOut;
    QString clock; // "1:02" while running, else empty

    bool operator==(const StatusIconFace&) const = default;
};
StatusIconFace statusIconFace(const PillContent& content);
QList<QImage> statusIconImages(const StatusIconFace& face);

// The tooltip's title: "Orvane", with the pill's time where it shows one
// (LXQt shows the title alone).
QString statusToolTipTitle(const PillContent& content);

// The item's label: the pill's text, and "Orvane" signed out, since MATE
// draws the label in place of the icon (an empty one draws nothing).
QString statusLabel(const PillContent& content);

// The icon as files, for hosts that load it only by name (Budgie's
// AppIndicator applet, GNOME's extension at each registration): a private
// folder in the runtime directory, laid out as an icon theme path, removed
// with the object. Each face is written once; the running clock's, which
// changes each minute, replaces the previous one.
class StatusIconFiles {
public:
    StatusIconFiles();
    // Empty when the folder could not be made.
    QString themePath() const { return dir_.isValid() ? dir_.path() : QString(); }
    // The face's icon name, its files written from `images` (the face's
    // `statusIconImages`) if they are not yet; empty when they cannot be written.
    QString nameFor(const StatusIconFace& face, const QList<QImage>& images);

private:
    bool write(const QString& name, const QList<QImage>& sizes) const;
    void remove(const QString& name) const;

    QTemporaryDir dir_;
    QStringList written_;
    QString clockName_;
};

// The widest text a label of this form can show, for the panel to reserve.
QString labelGuide(const QString& text);

} // namespace orvane
