#include "views/flow/login_view.h"

#include "platform/biometrics.h"
#include "platform/haptics.h"
#include "platform/user_defaults.h"
#include "store/app_store.h"
#include "store/biometric_credential_store.h"
#include "store/preference_keys.h"
#include "views/kit/accessibility.h"
#include "views/kit/assets.h"
#include "views/kit/chrome.h"
#include "views/kit/custom_toggle.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/scroll_indicator.h"
#include "views/kit/shadow.h"
#include "views/kit/symbols.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QVBoxLayout>

#include <QCoroTimer>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace login {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// More than `atLeast` user-perceived characters.
bool hasMoreCharactersThan(const QString& text, int atLeast) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0)
        if (++count > atLeast)
            return true;
    return false;
}

QColor primaryAt(qreal opacity) {
    QColor color = Palette::textPrimary();
    color.setAlphaF(float(opacity));
    return color;
}

} // namespace

Step stepFor(const std::optional<QString>& twoFactorPendingEmail) {
    return twoFactorPendingEmail ? Step::TwoFactor : Step::Credentials;
}

bool Form::canSubmit(Step step) const {
    if (step == Step::Credentials)
        return email.contains(u'@') && hasMoreCharactersThan(password, 3);
    const QString code = twoFACode.trimmed();
    return code.size() == 6 && std::all_of(code.begin(), code.end(), isAsciiDigit);
}

std::optional<QString> Form::codeArgument() const {
    if (twoFACode.isEmpty())
        return std::nullopt;
    return twoFACode;
}

QString filterCode(const QString& text) {
    QString digits;
    for (const QChar c : text) {
        if (digits.size() == 6)
            break;
        if (isAsciiDigit(c))
            digits.append(c);
    }
    return digits;
}

int filteredCursor(const QString& text, int cursor) {
    const int before = int(filterCode(text.left(std::max(cursor, 0))).size());
    return std::min(before, int(filterCode(text).size()));
}

bool showsBiometricButton(bool canEvaluateBiometrics, bool keychainPopulated,
                          bool biometricLoginEnabled) {
    return canEvaluateBiometrics && keychainPopulated && !biometricLoginEnabled;
}

QString autoBiometricKey(bool biometricLoginEnabled, bool keychainPopulated) {
    return QStringLiteral("%1_%2").arg(int(biometricLoginEnabled)).arg(int(keychainPopulated));
}

QString title(Step step) {
    return step == Step::Credentials ? QStringLiteral("Willkommen zurück.")
                                     : QStringLiteral("Zwei-Faktor-Authentifizierung");
}

QString subtitle(Step step) {
    return step == Step::Credentials
               ? QStringLiteral("Melde dich an, um deine Zeiten zu erfassen.")
               : QStringLiteral("Dein Passwort ist in Ordnung. Gib als Nächstes den 6-stelligen "
                                "Code aus deiner Authenticator-App ein.");
}

QString biometricButtonText(const QString& biometryName) {
    return QStringLiteral("Mit ") + biometryName + QStringLiteral(" anmelden");
}

QColor dimColor() {
    static const QColor color = primaryAt(0.58);
    return color;
}

QColor softColor() {
    static const QColor color = primaryAt(0.78);
    return color;
}

} // namespace login

namespace {

constexpr int kCredentialRowMinHeight = 28;

QColor whiteAt(qreal opacity) {
    QColor color(Qt::white);
    color.setAlphaF(float(opacity));
    return color;
}

QPainterPath roundedShape(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void playHaptic(platform::HapticPattern pattern) {
    platform::Haptics::shared().perform(pattern);
}

// The ring around the control that has the keyboard (reached with Tab).
QColor focusRingColor() {
    return QColor(167, 139, 250); // violet, clear of the accent fills and the dark ground
}

void drawFocusRing(QPainter& painter, const QPainterPath& shape, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color, 2));
    painter.drawPath(shape);
    painter.restore();
}

// Plain text that wraps, with extra room between its lines.
class SpacedLabel : public QLabel {
public:
    SpacedLabel(const QFont& font, const QColor& color, qreal lineSpacing, QWidget* parent)
        : QLabel(parent), m_lineSpacing(lineSpacing) {
        setFont(font);
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, color);
        setPalette(p);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return int(std::ceil(layOut(width, nullptr))); }
    QSize sizeHint() const override {
        const int width = 320;
        return {width, heightForWidth(width)};
    }
    // The layout asks heightForWidth for the real height; a minimum that
    // followed the current width would stick from a narrow first layout.
    QSize minimumSizeHint() const override { return {0, fontMetrics().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        layOut(width(), &painter);
    }

private:
    // Lays the text out in `width`; draws it when given a painter. Its height.
    qreal layOut(int width, QPainter* painter) const {
        QTextLayout layout(text(), font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        const qreal leading = QFontMetricsF(font()).leading();
        qreal y = 0;
        int lines = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(width, 1));
            if (lines++ > 0)
                y += m_lineSpacing;
            line.setPosition(QPointF(0, y));
            y += line.height() + leading;
        }
        layout.endLayout();
        if (painter)
            layout.draw(painter, QPointF(0, 0));
        return y;
    }

    qreal m_lineSpacing;
};

// The shared chrome of the input rows: a card-coloured rounded rectangle
// with a hairline, whatever the focus.
class RowChrome : public QWidget {
public:
    explicit RowChrome(QWidget* parent) : QWidget(parent) { setCursor(Qt::IBeamCursor); }
    // The field a click on the box's padding goes to.
    void setField(QLineEdit* field) { m_field = field; }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (m_field && event->button() == Qt::LeftButton) {
            m_field->setFocus(Qt::MouseFocusReason);
            event->accept();
            return;
        }
        QWidget::mousePressEvent(event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = roundedShape(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12);
        painter.fillPath(shape, Palette::bgCard());
        painter.strokePath(shape, QPen(Palette::hairline(), 1));
    }

private:
    QLineEdit* m_field = nullptr;
};

QLineEdit* makeField(const QString& title, const QString& prompt, const QFont& font,
                     const QColor& promptColor, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setFrame(false);
    field->setFont(font);
    field->setPlaceholderText(prompt);
    field->setAccessibleName(title);
    field->setFocusPolicy(Qt::StrongFocus);
    speakFocusFirst(field);
    QPalette p = field->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, Palette::textPrimary());
    p.setColor(QPalette::PlaceholderText, promptColor);
    p.setColor(QPalette::Highlight, Palette::indigo());
    p.setColor(QPalette::HighlightedText, Qt::white);
    field->setPalette(p);
    return field;
}

// A row of the form inside the input chrome; `minHeight` for its content.
// A click anywhere in the box goes to `field`.
RowChrome* inChrome(QWidget* content, QLineEdit* field, int minHeight, QWidget* parent) {
    auto* row = new RowChrome(parent);
    row->setField(field);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(11, 7, 11, 7);
    layout->setSpacing(8);
    content->setParent(row);
    content->setMinimumHeight(minHeight);
    layout->addWidget(content, 1);
    return row;
}

class EyeButton : public QAbstractButton {
public:
    explicit EyeButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(28, 28);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        drawSymbol(painter, isChecked() ? u"eye.slash.fill" : u"eye.fill", QRectF(rect()).center(),
                   14, login::dimColor(), FontWeight::Medium);
        if (hasFocus()) {
            QPainterPath ring;
            ring.addEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
            drawFocusRing(painter, ring, focusRingColor());
        }
    }
};

// The whole row is the button; the switch inside lets clicks through to it.
class RememberRow : public QAbstractButton {
public:
    RememberRow(CustomToggle* toggle, QWidget* parent) : QAbstractButton(parent) {
        setText(QStringLiteral("Angemeldet bleiben"));
        setCursor(Qt::PointingHandCursor);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 4, 0, 4);
        layout->setSpacing(12);
        toggle->setParent(this);
        layout->addWidget(toggle);
        auto* label = new QLabel(text(), this);
        label->setFont(systemFont(14));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, login::softColor());
        label->setPalette(p);
        layout->addWidget(label);
        layout->addStretch(1);
        m_label = label;
    }
    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!hasFocus())
            return;
        // Around the switch and its words, not the empty rest of the row.
        QPainter painter(this);
        const QRectF area =
            QRectF(0, 0, m_label->geometry().right() + 7, height()).adjusted(1, 1, -1, -1);
        drawFocusRing(painter, roundedShape(area, 9), focusRingColor());
    }

private:
    QLabel* m_label = nullptr;
};

// "Anmelden" / "Code bestätigen": the accent fill while it can submit.
class PrimaryButton : public QAbstractButton {
public:
    PrimaryButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setFont(systemFont(16, FontWeight::Bold));
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setAccentStyle(AccentStyle style) {
        m_style = style;
        update();
    }

    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 28, metrics.height() + 24};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = roundedShape(QRectF(rect()), 16);
        if (isEnabled())
            fillAccent(painter, shape, m_style);
        else
            painter.fillPath(shape, whiteAt(0.06));
        painter.setPen(isEnabled() ? QColor(Qt::white) : login::dimColor());
        painter.drawText(rect(), Qt::AlignCenter, text());
        // White reads on every accent fill.
        if (hasFocus())
            drawFocusRing(painter, roundedShape(QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), 14),
                          QColor(255, 255, 255, 235));
    }

private:
    AccentStyle m_style = AccentStyle::Gradient;
};

class BiometricButton : public QAbstractButton {
public:
    explicit BiometricButton(QWidget* parent) : QAbstractButton(parent) {
        setFont(systemFont(15, FontWeight::Bold));
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setSymbol(const QString& name) {
        m_symbol = name;
        update();
    }

    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {18 + 10 + metrics.horizontalAdvance(text()) + 28,
                std::max(metrics.height(), 18) + 24};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = roundedShape(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14);
        painter.fillPath(shape, whiteAt(0.05));
        painter.strokePath(shape, QPen(Palette::border(), 1));

        const qreal textWidth = QFontMetricsF(font()).horizontalAdvance(text());
        const qreal left = (width() - (18 + 10 + textWidth)) / 2;
        drawSymbol(painter, m_symbol, QPointF(left + 9, height() / 2.0), 18,
                   Palette::textPrimary());
        painter.setPen(Palette::textPrimary());
        painter.drawText(QRectF(left + 28, 0, textWidth + 1, height()),
                         Qt::AlignVCenter | Qt::AlignLeft, text());
        if (hasFocus())
            drawFocusRing(painter, roundedShape(QRectF(rect()).adjusted(1, 1, -1, -1), 14),
                          focusRingColor());
    }

private:
    QString m_symbol;
};

// "Zurück zur Anmeldung".
class LinkButton : public QAbstractButton {
public:
    LinkButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setFont(systemFont(15, FontWeight::Semibold));
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()), metrics.height() + 24};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(login::dimColor());
        painter.drawText(rect(), Qt::AlignCenter, text());
        if (hasFocus())
            drawFocusRing(painter, roundedShape(QRectF(rect()).adjusted(1, 1, -1, -1), 10),
                          focusRingColor());
    }
};

class Logo : public QWidget {
public:
    explicit Logo(QWidget* parent) : QWidget(parent) {
        setFixedHeight(34);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(QStringLiteral("orvane"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QSizeF natural = assetSize(u"OrvaneLogo");
        if (natural.isEmpty())
            return;
        const QSizeF fitted = natural.scaled(QSizeF(size()), Qt::KeepAspectRatio);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        drawAsset(painter, u"OrvaneLogo",
                  QRectF(QPointF(0, (height() - fitted.height()) / 2), fitted));
    }
};

// The scrolling column; it draws the primary buttons' indigo glow, which
// reaches beyond the buttons' own bounds.
class Column : public QWidget {
public:
    explicit Column(QWidget* parent) : QWidget(parent) {}
    void addGlowing(QAbstractButton* button) { m_glowing.push_back(button); }

protected:
    bool event(QEvent* event) override {
        const bool handled = QWidget::event(event);
        // The glows lie outside the buttons, where Qt repaints nothing when a
        // step's card comes or goes: once the layout has placed the cards,
        // the whole column is drawn again, or a glow stays where a button was.
        if (event->type() == QEvent::LayoutRequest)
            update();
        return handled;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor glow = Palette::indigo();
        glow.setAlphaF(0.4f);
        for (QAbstractButton* button : m_glowing) {
            if (!button->isVisibleTo(this) || !button->isEnabled())
                continue;
            const QRectF box(button->mapTo(this, QPoint(0, 0)), button->size());
            drawShadow(painter, roundedShape(box, 16), glow, 28, QPointF(0, 10));
        }
    }

private:
    std::vector<QAbstractButton*> m_glowing;
};

// A service's message may carry a line break per character: as lines of
// their own they would push the buttons out of sight, as spaces they wrap.
QString oneParagraph(QString text) {
    for (const QChar breakChar : {QChar(u'\n'), QChar(u'\r'), QChar(QChar::LineSeparator),
                                  QChar(QChar::ParagraphSeparator)})
        text.replace(breakChar, u' ');
    return text;
}

// A service's message may hold a token longer than the column: it breaks
// inside the token rather than widen the view.
TextBlock* makeErrorLabel(QWidget* parent) {
    auto* label =
        new TextBlock(QString(), systemFont(13), Palette::rose(), TextBlock::Wrap::Lines, parent);
    label->hide();
    return label;
}

} // namespace

LoginView::LoginView(AppStore& store, QWidget* parent)
    : QWidget(parent), store_(store),
      sleep_([](std::chrono::milliseconds ms) { return QCoro::sleepFor(ms); }) {
    setPalette(chromePalette(false));
    // It hands the keyboard to a field: screen readers see only the field focused.
    setAccessibleRole(this, QAccessible::Client);
    build();
    connect(&store_, &AppStore::changed, this,
            [this](AppStore::Property property) { storeChanged(int(property)); });
    shownStep_ = step();
    refresh();
}

LoginView::~LoginView() = default;

QSize LoginView::sizeHint() const {
    return {400, 560};
}

void LoginView::build() {
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);
    useThinScrollIndicator(scroll_);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll_);

    auto* column = new Column(scroll_);
    column->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(20, 52, 20, 20);
    layout->setSpacing(0);

    layout->addWidget(new Logo(column));
    layout->addSpacing(36);

    auto* header = new QVBoxLayout;
    header->setSpacing(6);
    QFont titleFont = systemFont(28, FontWeight::Bold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.8);
    title_ = new SpacedLabel(titleFont, Palette::textPrimary(), 2, column);
    title_->setObjectName(QStringLiteral("title"));
    subtitle_ = new SpacedLabel(systemFont(15), login::dimColor(), 6, column);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    header->addWidget(title_);
    header->addWidget(subtitle_);
    layout->addLayout(header);
    layout->addSpacing(24);

    credentialsCard_ = buildCredentialsCard();
    twoFactorCard_ = buildTwoFactorCard();
    credentialsCard_->setParent(column);
    twoFactorCard_->setParent(column);
    layout->addWidget(credentialsCard_);
    layout->addWidget(twoFactorCard_);
    column->addGlowing(signInButton_);
    column->addGlowing(confirmButton_);

    layout->addSpacing(28);
    layout->addStretch(1);
    scroll_->setWidget(column);
    column->setAutoFillBackground(false); // setWidget turned it on; the glows show through

    // Reached with Tab, never by a click, so a click leaves no ring behind;
    // Space presses them, and Return as well.
    for (QAbstractButton* button :
         {eye_, rememberRow_, signInButton_, biometricButton_, confirmButton_, back_}) {
        button->setFocusPolicy(Qt::TabFocus);
        pressOnReturn(button);
    }
}

QWidget* LoginView::buildCredentialsCard() {
    auto* card = new QWidget;
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    email_ = makeField(QStringLiteral("E-Mail"), QStringLiteral("E-Mail"), systemFont(15),
                       login::dimColor(), card);
    email_->setObjectName(QStringLiteral("email"));
    email_->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    layout->addWidget(inChrome(email_, email_, kCredentialRowMinHeight, card));

    auto* passwordStack = new QWidget;
    auto* passwordLayout = new QHBoxLayout(passwordStack);
    passwordLayout->setContentsMargins(0, 0, 0, 0);
    passwordLayout->setSpacing(8);
    password_ = makeField(QStringLiteral("Passwort"), QStringLiteral("Passwort"), systemFont(15),
                          login::dimColor(), passwordStack);
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    keepTextSecret(password_);
    passwordLayout->addWidget(password_, 1);
    eye_ = new EyeButton(passwordStack);
    eye_->setObjectName(QStringLiteral("passwordEye"));
    eye_->setCheckable(true);
    eye_->setAccessibleName(QStringLiteral("Passwort anzeigen"));
    passwordLayout->addWidget(eye_);
    layout->addWidget(inChrome(passwordStack, password_, kCredentialRowMinHeight, card));

    rememberToggle_ = new CustomToggle(store_.rememberMe(), store_.accentStyle());
    rememberRow_ = new RememberRow(rememberToggle_, card);
    rememberRow_->setObjectName(QStringLiteral("rememberMe"));
    rememberRow_->setCheckable(true);
    layout->addWidget(rememberRow_);

    credentialsError_ = makeErrorLabel(card);
    credentialsError_->setObjectName(QStringLiteral("credentialsError"));
    layout->addWidget(credentialsError_);

    signInButton_ = new PrimaryButton(QStringLiteral("Anmelden"), card);
    signInButton_->setObjectName(QStringLiteral("signIn"));
    layout->addWidget(signInButton_);

    biometricSlot_ = new QWidget(card);
    auto* slotLayout = new QVBoxLayout(biometricSlot_);
    slotLayout->setContentsMargins(0, 6, 0, 0);
    biometricButton_ = new BiometricButton(biometricSlot_);
    biometricButton_->setObjectName(QStringLiteral("biometric"));
    slotLayout->addWidget(biometricButton_);
    layout->addWidget(biometricSlot_);

    connect(email_, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(password_, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(eye_, &QAbstractButton::clicked, this, &LoginView::togglePasswordShown);
    connect(rememberRow_, &QAbstractButton::clicked, this, &LoginView::toggleRememberMe);
    connect(signInButton_, &QAbstractButton::clicked, this, &LoginView::submit);
    connect(biometricButton_, &QAbstractButton::clicked, this, &LoginView::biometricSignIn);
    return card;
}

QWidget* LoginView::buildTwoFactorCard() {
    auto* card = new QWidget;
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    // The address as typed, of any length: whole, over lines if need be.
    auto* pendingRow = new QWidget(card);
    auto* pendingLayout = new QVBoxLayout(pendingRow);
    pendingLayout->setContentsMargins(0, 4, 0, 4);
    pendingEmail_ = new TextBlock(QString(), systemFont(14, FontWeight::Semibold),
                                  login::softColor(), TextBlock::Wrap::Lines, pendingRow);
    pendingEmail_->setObjectName(QStringLiteral("pendingEmail"));
    pendingLayout->addWidget(pendingEmail_);
    layout->addWidget(pendingRow);

    const QString codeTitle = QStringLiteral("Authenticator-Code (6 Ziffern)");
    code_ = makeField(codeTitle, codeTitle, systemFont(15, FontWeight::Medium),
                      Palette::textTertiary(), card);
    code_->setObjectName(QStringLiteral("code"));
    code_->setInputMethodHints(Qt::ImhDigitsOnly);
    layout->addWidget(inChrome(code_, code_, 0, card));

    codeError_ = makeErrorLabel(card);
    codeError_->setObjectName(QStringLiteral("codeError"));
    layout->addWidget(codeError_);

    confirmButton_ = new PrimaryButton(QStringLiteral("Code bestätigen"), card);
    confirmButton_->setObjectName(QStringLiteral("confirmCode"));
    layout->addWidget(confirmButton_);

    back_ = new LinkButton(QStringLiteral("Zurück zur Anmeldung"), card);
    back_->setObjectName(QStringLiteral("back"));
    layout->addWidget(back_);

    connect(code_, &QLineEdit::textChanged, this, &LoginView::applyCodeFilter);
    connect(confirmButton_, &QAbstractButton::clicked, this, &LoginView::submit);
    connect(back_, &QAbstractButton::clicked, this, &LoginView::backToCredentials);
    return card;
}

login::Step LoginView::step() const {
    return login::stepFor(store_.twoFactorPendingEmail());
}

login::Form LoginView::form() const {
    return {email_->text(), password_->text(), code_->text()};
}

bool LoginView::showsBiometricButton() const {
    return login::showsBiometricButton(platform::Biometrics::shared().canEvaluatePolicy(),
                                       store_.biometricKeychainPopulated(),
                                       store_.biometricLoginEnabled());
}

void LoginView::storeChanged(int property) {
    using P = AppStore::Property;
    switch (P(property)) {
    case P::IsLoggedIn:
        if (store_.isLoggedIn())
            code_->clear();
        break;
    case P::BiometricLoginEnabled:
    case P::BiometricKeychainPopulated:
        if (isVisible() && autoKey_ != login::autoBiometricKey(store_.biometricLoginEnabled(),
                                                               store_.biometricKeychainPopulated()))
            restartAutoBiometricSignIn();
        break;
    case P::RememberMe:
    case P::LoginError:
    case P::TwoFactorPendingEmail:
    case P::AccentStyle:
        break;
    default:
        return;
    }
    refresh();
}

void LoginView::refresh() {
    const login::Step current = step();
    const bool twoFactor = current == login::Step::TwoFactor;
    title_->setText(login::title(current));
    subtitle_->setText(login::subtitle(current));
    credentialsCard_->setVisible(!twoFactor);
    twoFactorCard_->setVisible(twoFactor);

    const QString pending = store_.twoFactorPendingEmail().value_or(QString());
    pendingEmail_->setText(pending);
    pendingEmail_->parentWidget()->setVisible(!pending.isEmpty());

    const std::optional<QString>& error = store_.loginError();
    TextBlock* shownError = twoFactor ? codeError_ : credentialsError_;
    TextBlock* otherError = twoFactor ? credentialsError_ : codeError_;
    shownError->setText(oneParagraph(error.value_or(QString())));
    shownError->setVisible(error.has_value());
    otherError->hide();
    // The line appears away from the keyboard's focus.
    const std::optional<QString> said = error ? std::optional(shownError->text()) : std::nullopt;
    if (const auto news = changedText(announcedError_, said))
        announce(this, *news);
    announcedError_ = said;

    rememberToggle_->setOn(store_.rememberMe());
    rememberToggle_->setAccentStyle(store_.accentStyle());
    rememberRow_->setChecked(store_.rememberMe());
    const login::Form typed = form();
    signInButton_->setEnabled(typed.canSubmit(login::Step::Credentials));
    confirmButton_->setEnabled(typed.canSubmit(login::Step::TwoFactor));
    for (QAbstractButton* button : {signInButton_, confirmButton_})
        static_cast<PrimaryButton*>(button)->setAccentStyle(store_.accentStyle());

    const bool biometric = showsBiometricButton();
    biometricSlot_->setVisible(biometric);
    if (biometric) {
        biometricButton_->setText(
            login::biometricButtonText(BiometricCredentialStore::biometryDisplayName()));
        static_cast<BiometricButton*>(biometricButton_)
            ->setSymbol(BiometricCredentialStore::biometrySymbolName());
    }
    scroll_->widget()->update();

    const bool enteredTwoFactor = twoFactor && shownStep_ == login::Step::Credentials;
    shownStep_ = current;
    // Whoever gives this view the keyboard (the opened popover) gives it to
    // the step's first field.
    if (QWidget* first = twoFactor ? code_ : email_; focusProxy() != first)
        setFocusProxy(first);
    if (enteredTwoFactor) {
        focusField(login::Field::TwoFA);
        // The field is read on its own; the new title and why come after it.
        announce(this, title_->text() + u' ' + subtitle_->text());
    }
}

void LoginView::submit() {
    // A second sign-in racing the first would leave a device token behind.
    if (signInInFlight_ || !canSubmit())
        return;
    playHaptic(platform::HapticPattern::LevelChange);
    const login::Form typed = form();
    signInInFlight_ = true;
    runSignIn(typed.email, typed.password, typed.codeArgument());
}

QCoro::Task<void> LoginView::runSignIn(QString email, QString password,
                                       std::optional<QString> code) {
    // A successful sign-in replaces this view while the store still works.
    const QPointer<LoginView> self(this);
    const quint64 run = ++signInRun_;
    co_await store_.login(email, password, code);
    if (!self || run != signInRun_)
        co_return;
    signInInFlight_ = false;
}

void LoginView::biometricSignIn() {
    playHaptic(platform::HapticPattern::LevelChange);
    store_.loginWithBiometrics(true);
}

void LoginView::backToCredentials() {
    playHaptic(platform::HapticPattern::Generic);
    code_->clear();
    // The code check still on its way ends silently: the first step is free.
    ++signInRun_;
    signInInFlight_ = false;
    if (store_.twoFactorPendingEmail())
        store_.setTwoFactorPendingEmail(std::nullopt);
    if (store_.twoFactorPendingPassword())
        store_.setTwoFactorPendingPassword(std::nullopt);
    if (store_.loginError())
        store_.setLoginError(std::nullopt);
    focusField(login::Field::Email);
}

void LoginView::toggleRememberMe() {
    const bool remember = !store_.rememberMe();
    store_.setRememberMe(remember);
    platform::UserDefaults::standard().setBool(QLatin1String(PreferenceKeys::RememberMe), remember);
    playHaptic(platform::HapticPattern::Generic);
}

void LoginView::togglePasswordShown() {
    playHaptic(platform::HapticPattern::Generic);
    const bool shown = eye_->isChecked();
    const int cursor = password_->cursorPosition();
    password_->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    password_->setCursorPosition(cursor);
    const QString name =
        shown ? QStringLiteral("Passwort verbergen") : QStringLiteral("Passwort anzeigen");
    eye_->setAccessibleName(name);
    // Orca drops the focused button's name change.
    announce(eye_, name);
}

void LoginView::applyCodeFilter() {
    const QString typed = code_->text();
    const QString digits = login::filterCode(typed);
    if (digits != typed) {
        const int cursor = login::filteredCursor(typed, code_->cursorPosition());
        code_->setText(digits); // comes back here once, with nothing left to drop
        code_->setCursorPosition(cursor);
        return;
    }
    refresh();
}

void LoginView::focusField(login::Field field) {
    QLineEdit* target = field == login::Field::Email      ? email_
                        : field == login::Field::Password ? password_
                                                          : code_;
    target->setFocus(Qt::OtherFocusReason);
}

void LoginView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF box(rect());
    painter.fillRect(box, Palette::bgDeep());

    QColor violet = QColor::fromRgbF(0.5451f, 0.3608f, 0.9647f);
    QRadialGradient top(QPointF(box.width() * 0.5, box.height() * -0.1), 450);
    violet.setAlphaF(0.22f);
    top.setColorAt(0, violet);
    violet.setAlphaF(0);
    top.setColorAt(1, violet);
    painter.fillRect(box, top);

    QColor pink = Palette::pink();
    QRadialGradient corner(box.bottomRight(), 350);
    pink.setAlphaF(0.14f);
    corner.setColorAt(0, pink);
    pink.setAlphaF(0);
    corner.setColorAt(1, pink);
    painter.fillRect(box, corner);
}

void LoginView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Where nothing in its window holds the keyboard, the step's first field
    // takes it.
    if (!window()->focusWidget())
        setFocus(Qt::OtherFocusReason);
    refresh();
    if (!autoKey_)
        restartAutoBiometricSignIn();
}

void LoginView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    ++autoRun_; // cancels the automatic sign-in
    autoKey_.reset();
}

void LoginView::restartAutoBiometricSignIn() {
    const bool enabled = store_.biometricLoginEnabled();
    const bool populated = store_.biometricKeychainPopulated();
    autoKey_ = login::autoBiometricKey(enabled, populated);
    ++autoRun_;
    // The flags are the key: an instance that would find either off after
    // its first wait is not worth a timer (it is replaced when they change).
    if (enabled && populated)
        runAutoBiometricSignIn(autoRun_);
}

QCoro::Task<void> LoginView::runAutoBiometricSignIn(quint64 run) {
    const QPointer<LoginView> self(this);
    const Sleep sleep = sleep_;
    AppStore& store = store_;
    // A cancelled instance (hidden view, changed key) ends at its next wake
    // instead of rushing on to a prompt.
    const auto current = [&self, run] { return self && self->autoRun_ == run; };

    co_await sleep(std::chrono::milliseconds(100));
    if (!current() || !store.biometricLoginEnabled())
        co_return;
    if (!platform::Biometrics::shared().canEvaluatePolicy())
        co_return;
    if (!store.biometricKeychainPopulated())
        co_return;
    // Up to 1.5 s for a sign-in that finishes by other means.
    for (int i = 0; i < 30; ++i) {
        if (store.isLoggedIn())
            co_return;
        co_await sleep(std::chrono::milliseconds(50));
        if (!current())
            co_return;
    }
    if (!store.isLoggedIn() && !store.twoFactorPendingEmail())
        co_await store.loginWithBiometrics(false);
}

} // namespace orvane
