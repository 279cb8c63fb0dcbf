#pragma once

#include "views/kit/accessibility.h"

#include "service/user_records.h"
#include "views/popover/popover_actions.h"

#include <QAbstractButton>
#include <QImage>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <QCoroTask>

#include <optional>

namespace orvane {

class AppStore;
class ChromeSetting;

// The name under the wordmark: the name, else first and last name, else the
// e-mail as stored; a single blank without a user.
QString userDisplayName(const std::optional<APIUser>& user);
// The user's initials, trimmed; empty without a user.
QString userInitials(const std::optional<APIUser>& user);
// The photo's address; none without a user or a usable photo.
std::optional<QUrl> avatarURL(const std::optional<APIUser>& user);

// What the avatar circle shows, in order of preference.
enum class AvatarFace { Photo, Initials, WordmarkInitial };
AvatarFace avatarFace(bool hasPhoto, const QString& initials);
inline constexpr const char16_t* kWordmark = u"orvane";

// "sun.max.fill" in light chrome, "moon.fill" in dark: the chrome in force.
QString chromeToggleSymbol(bool light);

// The avatar photo and the address it was last asked for. A reply for an
// address that is no longer the one asked for is dropped, so a slow, older
// load never overwrites a newer one.
class ProfileImageSlot {
public:
    // False when the photo of `url` is already there, on its way, or was
    // refused: a refused address is not fetched again at every opening.
    bool needsLoad(const std::optional<QUrl>& url) const;
    // Asks for `url`; the old photo stays meanwhile, unless there is no address.
    void begin(const std::optional<QUrl>& url);
    // True when the result was taken (it may be no image).
    bool finish(const QUrl& url, std::optional<QImage> image);
    // A refused address may be asked for once more.
    void retryFailed();
    // Another user: nothing of the previous one's photo stays.
    void forget();

    const std::optional<QImage>& image() const { return m_image; }
    const std::optional<QUrl>& url() const { return m_url; }

private:
    std::optional<QUrl> m_url;
    std::optional<QImage> m_image;
    bool m_loading = false;
    bool m_failed = false;
};

// The signed-in popover's top row: avatar with the user's photo or initials,
// the wordmark with the display name, and two square buttons: a new session,
// and the switch between dark and light chrome. The photo loads on each
// appearance and whenever its address changes.
class PopoverHeader : public QWidget, public SpokenText {
    Q_OBJECT
public:
    static constexpr int kAvatarSide = 32;
    static constexpr int kButtonSide = 32;
    static constexpr int kButtonSpacing = 4;
    // A hostile name stops after this many lines.
    static constexpr int kMostNameLines = 2;

    PopoverHeader(AppStore& store, ChromeSetting& chrome, PopoverActions actions,
                  QWidget* parent = nullptr);

    QString displayName() const;
    // "orvane, angemeldet als Anna Beispiel".
    QString spokenText() const override;
    AvatarFace shownAvatarFace() const;
    const ProfileImageSlot& profileImage() const { return m_slot; }
    QAbstractButton* newSessionButton() const { return m_newSession; }
    QAbstractButton* chromeToggle() const { return m_toggle; }
    // The display name as laid out in the given text width, line by line.
    QStringList nameLines(qreal width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QCoro::Task<void> loadProfileImage();
    void userChanged();
    qreal textLeft() const;
    qreal textWidth(int width) const;

    AppStore& m_store;
    ChromeSetting& m_chrome;
    PopoverActions m_actions;
    ProfileImageSlot m_slot;
    std::optional<QString> m_userId; // whose photo the slot may hold
    quint64 m_signIn = 0;            // the sign-in whose refused photo stays refused
    QAbstractButton* m_newSession;
    QAbstractButton* m_toggle;
};

} // namespace orvane
