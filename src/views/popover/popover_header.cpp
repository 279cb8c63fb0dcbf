#include "views/popover/popover_header.h"

#include "store/app_store.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"
#include "views/popover/popover_style.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTextLayout>

#include <cmath>
#include <functional>

namespace orvane {

namespace {

constexpr int kIdentitySpacing = 10; // avatar to texts
constexpr int kGap = 16;             // texts to buttons, around the flexible space

QFont wordmarkFont() {
    return systemFont(15, FontWeight::Bold);
}
QFont nameFont() {
    return systemFont(12);
}

// A square button of the header: a symbol on a faint rounded square.
class ChromeButton : public QAbstractButton {
public:
    ChromeButton(ChromeSetting& chrome, std::function<QString()> symbol, const QString& name,
                 QWidget* parent)
        : QAbstractButton(parent), m_chrome(chrome), m_symbol(std::move(symbol)) {
        setAccessibleName(name);
        setFocusPolicy(Qt::TabFocus);
        pressOnReturn(this);
        setFixedSize(PopoverHeader::kButtonSide, PopoverHeader::kButtonSide);
    }
    QString symbol() const { return m_symbol(); }

protected:
    void paintEvent(QPaintEvent*) override {
        const bool light = m_chrome.light();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isDown())
            p.setOpacity(0.7);
        QPainterPath square;
        square.addRoundedRect(QRectF(rect()), 8, 8);
        p.fillPath(square, light ? QColor(0, 0, 0, 13) : QColor(255, 255, 255, 20));
        drawSymbol(p, symbol(), QRectF(rect()).center(), 14, strongTextColor(light),
                   FontWeight::Semibold);
        if (hasFocus())
            strokeKeyboardFocus(p, QRectF(rect()), 8);
    }

private:
    ChromeSetting& m_chrome;
    std::function<QString()> m_symbol;
};

std::optional<QString> identityOf(const std::optional<APIUser>& user) {
    if (!user)
        return std::nullopt;
    return user->id + u'\n' + user->email;
}

} // namespace

QString userDisplayName(const std::optional<APIUser>& user) {
    if (!user)
        return QStringLiteral(" ");
    if (const QString name = user->name.value_or(QString()).trimmed(); !name.isEmpty())
        return name;
    const QString joined =
        (user->firstName.value_or(QString()) + u' ' + user->lastName.value_or(QString())).trimmed();
    if (!joined.isEmpty())
        return joined;
    return user->email;
}

QString userInitials(const std::optional<APIUser>& user) {
    return user ? user->initials().trimmed() : QString();
}

std::optional<QUrl> avatarURL(const std::optional<APIUser>& user) {
    return user ? user->profilePhotoURL() : std::nullopt;
}

AvatarFace avatarFace(bool hasPhoto, const QString& initials) {
    if (hasPhoto)
        return AvatarFace::Photo;
    return initials.isEmpty() ? AvatarFace::WordmarkInitial : AvatarFace::Initials;
}

QString chromeToggleSymbol(bool light) {
    return light ? QStringLiteral("sun.max.fill") : QStringLiteral("moon.fill");
}

// ---- ProfileImageSlot ----

bool ProfileImageSlot::needsLoad(const std::optional<QUrl>& url) const {
    return !(url == m_url && (m_image || m_loading || m_failed));
}

void ProfileImageSlot::begin(const std::optional<QUrl>& url) {
    if (url != m_url)
        m_failed = false;
    m_url = url;
    m_loading = url.has_value();
    if (!url)
        m_image.reset();
}

bool ProfileImageSlot::finish(const QUrl& url, std::optional<QImage> image) {
    if (m_url != url)
        return false;
    m_loading = false;
    m_failed = !image;
    m_image = std::move(image);
    return true;
}

void ProfileImageSlot::retryFailed() {
    m_failed = false;
}

void ProfileImageSlot::forget() {
    m_url.reset();
    m_image.reset();
    m_loading = false;
    m_failed = false;
}

// ---- PopoverHeader ----

PopoverHeader::PopoverHeader(AppStore& store, ChromeSetting& chrome, PopoverActions actions,
                             QWidget* parent)
    : QWidget(parent), m_store(store), m_chrome(chrome), m_actions(std::move(actions)),
      m_userId(identityOf(store.currentUser())) {
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAccessibleRole(this, QAccessible::Grouping);
    // Ctrl+Shift+N reaches this button's action through the popover's key
    // monitor, which takes the key first: a shortcut here would fire twice.
    m_newSession = new ChromeButton(
        chrome, [] { return QStringLiteral("plus"); }, QStringLiteral("Neue Session"), this);
    m_toggle = new ChromeButton(
        chrome, [&chrome] { return chromeToggleSymbol(chrome.light()); },
        QStringLiteral("Hell oder dunkel"), this);
    connect(m_newSession, &QAbstractButton::clicked, this, [this] {
        if (m_actions.openSessionFlow)
            m_actions.openSessionFlow();
    });
    connect(m_toggle, &QAbstractButton::clicked, this, [this] { m_chrome.toggle(); });
    connect(&m_chrome, &ChromeSetting::changed, this, [this] {
        update();
        m_newSession->update();
        m_toggle->update();
    });
    connect(&m_store, &AppStore::changed, this, [this](AppStore::Property property) {
        if (property == AppStore::Property::CurrentUser)
            userChanged();
        else if (property == AppStore::Property::AccentStyle)
            update();
    });
}

QString PopoverHeader::displayName() const {
    return userDisplayName(m_store.currentUser());
}

QString PopoverHeader::spokenText() const {
    const QString name = displayName().trimmed();
    return QString::fromUtf16(kWordmark) +
           (name.isEmpty() ? QString() : QStringLiteral(", angemeldet als ") + name);
}

AvatarFace PopoverHeader::shownAvatarFace() const {
    return avatarFace(m_slot.image().has_value(), userInitials(m_store.currentUser()));
}

void PopoverHeader::userChanged() {
    const std::optional<QString> identity = identityOf(m_store.currentUser());
    if (identity != m_userId) {
        m_userId = identity;
        m_slot.forget();
    }
    if (isVisible() && m_slot.url() != avatarURL(m_store.currentUser()))
        loadProfileImage();
    updateGeometry();
    update();
    announceNameChange(this);
}

void PopoverHeader::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    loadProfileImage();
}

QCoro::Task<void> PopoverHeader::loadProfileImage() {
    // The address as it is now, not as it was when the load was asked for.
    const std::optional<QUrl> url = avatarURL(m_store.currentUser());
    // A photo that failed is asked for again after the next sign-in only.
    if (m_signIn != m_store.signInGeneration()) {
        m_signIn = m_store.signInGeneration();
        m_slot.retryFailed();
    }
    if (!m_slot.needsLoad(url))
        co_return;
    m_slot.begin(url);
    update();
    if (!url)
        co_return;
    const QUrl requested = *url;
    const QPointer<PopoverHeader> self(this);
    std::optional<QImage> image = co_await m_store.loadAvatarImage(requested);
    if (!self)
        co_return;
    if (m_slot.finish(requested, std::move(image)))
        update();
}

qreal PopoverHeader::textLeft() const {
    return kAvatarSide + kIdentitySpacing;
}

qreal PopoverHeader::textWidth(int width) const {
    return std::max<qreal>(width - textLeft() - kGap - 2 * kButtonSide - kButtonSpacing, 0);
}

QStringList PopoverHeader::nameLines(qreal width) const {
    const QString name = displayName();
    QTextLayout layout(name, nameFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == kMostNameLines - 1) {
            lines << elidedText(nameFont(), name.mid(line.textStart()), width);
            break;
        }
        lines << name.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}

int PopoverHeader::heightForWidth(int width) const {
    const qreal texts = QFontMetricsF(wordmarkFont()).height() + 2 +
                        nameLines(textWidth(width)).size() * QFontMetricsF(nameFont()).height();
    return int(std::ceil(std::max<qreal>({texts, kAvatarSide, kButtonSide})));
}

QSize PopoverHeader::sizeHint() const {
    return QSize(372, heightForWidth(372));
}

QSize PopoverHeader::minimumSizeHint() const {
    const int width = int(textLeft()) + kGap + 2 * kButtonSide + kButtonSpacing + 40;
    return QSize(width, heightForWidth(width));
}

void PopoverHeader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_toggle->move(width() - kButtonSide, 0);
    m_newSession->move(width() - 2 * kButtonSide - kButtonSpacing, 0);
}

void PopoverHeader::paintEvent(QPaintEvent*) {
    const bool light = m_chrome.light();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    const QRectF avatar(0, 0, kAvatarSide, kAvatarSide);
    QPainterPath circle;
    circle.addEllipse(avatar);
    fillAccent(p, circle, m_store.accentStyle());
    const QString initials = userInitials(m_store.currentUser());
    switch (avatarFace(m_slot.image().has_value(), initials)) {
    case AvatarFace::Photo: {
        // Scaled to fill: the shorter side spans the circle.
        const QImage& image = *m_slot.image();
        const qreal scale = kAvatarSide / qreal(std::min(image.width(), image.height()));
        const QSizeF drawn(image.width() * scale, image.height() * scale);
        p.save();
        p.setClipPath(circle);
        p.drawImage(QRectF(avatar.center() - QPointF(drawn.width(), drawn.height()) / 2, drawn),
                    image);
        p.restore();
        break;
    }
    case AvatarFace::Initials:
        p.setPen(Qt::white);
        p.setFont(systemFont(13, FontWeight::Bold));
        p.drawText(avatar, Qt::AlignCenter, initials);
        break;
    case AvatarFace::WordmarkInitial:
        p.setPen(Qt::white);
        p.setFont(systemFont(16, FontWeight::Bold));
        p.drawText(avatar, Qt::AlignCenter, QString::fromUtf16(kWordmark).left(1));
        break;
    }
    p.setPen(QPen(QColor(255, 255, 255, 38), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(avatar.adjusted(0.5, 0.5, -0.5, -0.5));

    const qreal left = textLeft();
    const qreal room = textWidth(width());
    const QFontMetricsF wordmark(wordmarkFont());
    p.setPen(strongTextColor(light));
    p.setFont(wordmarkFont());
    p.drawText(QPointF(left, wordmark.ascent()),
               elidedText(wordmarkFont(), QString::fromUtf16(kWordmark), room));
    const QFontMetricsF name(nameFont());
    p.setPen(softTextColor(light));
    p.setFont(nameFont());
    qreal y = wordmark.height() + 2;
    for (const QString& line : nameLines(room)) {
        p.drawText(QPointF(left, y + name.ascent()), line);
        y += name.height();
    }
}

} // namespace orvane
