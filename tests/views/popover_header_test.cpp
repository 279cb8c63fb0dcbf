#include "support/await.h"
#include "support/store_world.h"
#include "views/kit/chrome.h"
#include "views/popover/popover_header.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

std::string str(const QString& s) {
    return s.toStdString();
}

APIUser user(const QString& id, std::optional<QString> photo = std::nullopt) {
    APIUser u{id, id + QStringLiteral("@orvane.test")};
    u.firstName = QStringLiteral("Ada");
    u.lastName = QStringLiteral("Lovelace");
    u.profilePhotoUrl = std::move(photo);
    return u;
}

std::string png(QColor colour, QSize size = QSize(40, 40)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data().toStdString();
}

FakeResponse photo(const std::string& body, std::chrono::milliseconds delay = 0ms,
                   int status = 200) {
    FakeResponse answer = FakeResponse::json(status, body);
    answer.contentType = "image/png";
    answer.delay = delay;
    return answer;
}

struct HeaderWorld : test::StoreWorld {
    ChromeSetting chrome;
    QWidget window;
    PopoverHeader* header = nullptr;
    int flowsOpened = 0;

    HeaderWorld() {
        store().setIsLoggedIn(true);
        window.setFixedWidth(372);
        auto* layout = new QVBoxLayout(&window);
        header = new PopoverHeader(
            store(), chrome, {.openSessionFlow = [this] { ++flowsOpened; }, .startOrStop = {}},
            &window);
        layout->addWidget(header);
    }
    ~HeaderWorld() { test::spin(50ms); }
    void show() {
        window.show();
        QApplication::processEvents();
    }
    std::size_t photoRequests(const std::string& path) const {
        return service.requestsTo("GET", path).size();
    }
    QColor shownColour() const { return header->profileImage().image()->pixelColor(1, 1); }
    bool showsPhoto() const { return header->shownAvatarFace() == AvatarFace::Photo; }
};

// ---- Texts ----

TEST(PopoverHeader, DisplayNameFallsBackFromNameToBothNamesToTheEmail) {
    const auto make = [](std::optional<QString> name, std::optional<QString> first,
                         std::optional<QString> last, QString email) {
        APIUser u{QStringLiteral("1"), std::move(email)};
        u.name = std::move(name);
        u.firstName = std::move(first);
        u.lastName = std::move(last);
        return std::optional(u);
    };
    const struct {
        std::optional<APIUser> user;
        const char* shown;
    } cases[] = {
        {std::nullopt, " "},
        {make(" Ada Lovelace\n", "X", "Y", "a@b.de"), "Ada Lovelace"},
        {make("   ", "Ann", std::nullopt, "a@b.de"), "Ann"},
        {make(std::nullopt, std::nullopt, " Lee ", "a@b.de"), "Lee"},
        {make(std::nullopt, "Ann", "Lee", "a@b.de"), "Ann Lee"},
        {make("", "", "", " a@b.de "), " a@b.de "},
        {make(std::nullopt, std::nullopt, std::nullopt, ""), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(userDisplayName(c.user)), c.shown) << c.shown;
}

TEST(PopoverHeader, AvatarShowsPhotoElseInitialsElseTheWordmarksInitial) {
    EXPECT_EQ(str(userInitials(std::nullopt)), "");
    EXPECT_EQ(str(userInitials(user("1"))), "AL");
    const struct {
        bool photo;
        QString initials;
        AvatarFace face;
    } cases[] = {
        {true, "AL", AvatarFace::Photo},
        {true, "", AvatarFace::Photo},
        {false, "AL", AvatarFace::Initials},
        {false, "", AvatarFace::WordmarkInitial},
    };
    for (const auto& c : cases)
        EXPECT_EQ(avatarFace(c.photo, c.initials), c.face);

    HeaderWorld w;
    EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::WordmarkInitial);
    EXPECT_EQ(str(w.header->displayName()), " ");
    w.store().setCurrentUser(user("1"));
    EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::Initials);
}

TEST(PopoverHeader, AHostileNameStopsAtTwoLinesAndLeavesTheButtonsInPlace) {
    HeaderWorld w;
    APIUser u = user("1");
    u.name = QString(5000, u'W');
    w.store().setCurrentUser(u);
    w.show();
    const QStringList lines = w.header->nameLines(200);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.back().endsWith(u'…'));
    EXPECT_LT(w.header->height(), 80);
    for (QAbstractButton* button : {w.header->newSessionButton(), w.header->chromeToggle()}) {
        EXPECT_TRUE(w.header->rect().contains(button->geometry()));
        EXPECT_EQ(button->size(), QSize(32, 32));
    }
}

// ---- Buttons ----

TEST(PopoverHeader, NewSessionOpensTheFlowOnceAndLeavesItsKeyToTheMonitor) {
    HeaderWorld w;
    w.store().setCurrentUser(user("1"));
    w.show();
    QTest::mouseClick(w.header->newSessionButton(), Qt::LeftButton);
    EXPECT_EQ(w.flowsOpened, 1);
    EXPECT_TRUE(w.haptics.played.empty());
    // The popover's key monitor answers Ctrl+Shift+N; a shortcut of the
    // button's own would open the flow a second time.
    w.header->newSessionButton()->setFocus();
    QTest::keyClick(&w.window, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.flowsOpened, 1);
}

TEST(PopoverHeader, ChromeToggleFlipsAndWritesThePreference) {
    EXPECT_EQ(str(chromeToggleSymbol(true)), "sun.max.fill");
    EXPECT_EQ(str(chromeToggleSymbol(false)), "moon.fill");
    HeaderWorld w;
    w.chrome.setLight(false);
    w.show();
    int changes = 0;
    QObject::connect(&w.chrome, &ChromeSetting::changed, [&] { ++changes; });
    for (const bool expected : {true, false, true}) {
        QTest::mouseClick(w.header->chromeToggle(), Qt::LeftButton);
        EXPECT_EQ(w.chrome.light(), expected);
        EXPECT_EQ(w.defaults->boolValue(QLatin1String(ChromeSetting::kKey)), expected);
    }
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(w.flowsOpened, 0);
}

// ---- The photo ----

TEST(Avatar, APhotoThatLoadsShowsAndAReopeningAsksNoMore) {
    HeaderWorld w;
    w.service.on("GET", "/avatars/ada.png", photo(png(Qt::red)));
    w.store().setCurrentUser(user("1", QStringLiteral("/avatars/ada.png")));
    EXPECT_EQ(w.photoRequests("/avatars/ada.png"), 0u); // not on screen yet
    w.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.showsPhoto(); }));
    EXPECT_EQ(w.shownColour(), QColor(Qt::red));
    w.window.hide();
    w.show();
    test::spin(100ms);
    EXPECT_EQ(w.photoRequests("/avatars/ada.png"), 1u);
}

TEST(Avatar, ALateAnswerForTheOldAddressDoesNotOverwriteTheNewPhoto) {
    HeaderWorld w;
    w.service.on("GET", "/avatars/old.png", photo(png(Qt::red), 600ms));
    w.service.on("GET", "/avatars/new.png", photo(png(Qt::blue)));
    w.store().setCurrentUser(user("1", QStringLiteral("/avatars/old.png")));
    w.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.photoRequests("/avatars/old.png") == 1; }));
    w.store().setCurrentUser(user("1", QStringLiteral("/avatars/new.png")));
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.showsPhoto(); }));
    EXPECT_EQ(w.shownColour(), QColor(Qt::blue));
    ASSERT_TRUE(test::answersArrived()); // the old one's
    ASSERT_TRUE(w.showsPhoto());
    EXPECT_EQ(w.shownColour(), QColor(Qt::blue));
    EXPECT_EQ(w.header->profileImage().url()->path(), "/avatars/new.png");
}

TEST(Avatar, WhatIsNoUsablePhotoShowsTheInitialsAndKeepsThePopoverResponsive) {
    const struct {
        const char* name;
        FakeResponse answer;
    } cases[] = {
        {"HTML", photo("<html>Anmelden</html>")},
        {"not found", photo(png(Qt::red), 0ms, 404)},
        {"empty", photo("")},
        {"5000 px wide", photo(png(Qt::red, QSize(5000, 2)))},
        {"beyond 5 MB", photo(png(Qt::red) + std::string(6 * 1024 * 1024, '\0'))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderWorld w;
        w.service.on("GET", "/avatars/ada.png", c.answer);
        w.store().setCurrentUser(user("1", QStringLiteral("/avatars/ada.png")));
        // A timer of the event loop keeps firing while the photo loads. Only
        // a stall of seconds counts: a loaded machine delays beats too.
        qint64 longestGap = 0;
        QElapsedTimer sinceBeat;
        sinceBeat.start();
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
        beat.start(10);
        w.show();
        ASSERT_TRUE(test::eventuallyTrue([&] { return w.photoRequests("/avatars/ada.png") == 1; }));
        test::spin(300ms);
        EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::Initials);
        EXPECT_LT(longestGap, 2000);
    }
}

TEST(Avatar, AnotherUsersPhotoNeverShowsUnderTheNewName) {
    HeaderWorld w;
    w.service.on("GET", "/avatars/a.png", photo(png(Qt::red)));
    w.service.on("GET", "/avatars/b.png", photo(png(Qt::blue), 400ms));
    w.store().setCurrentUser(user("A", QStringLiteral("/avatars/a.png")));
    w.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.showsPhoto(); }));

    // Signed out and in as someone else while the popover was closed.
    w.window.hide();
    w.store().setCurrentUser(std::nullopt);
    w.store().setCurrentUser(user("B", QStringLiteral("/avatars/b.png")));
    w.show();
    EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::Initials);
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.showsPhoto(); }));
    EXPECT_EQ(w.shownColour(), QColor(Qt::blue));

    // Straight from one user to another while on screen.
    w.store().setCurrentUser(user("C", QStringLiteral("/avatars/a.png")));
    EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::Initials);
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.showsPhoto(); }));
    EXPECT_EQ(w.shownColour(), QColor(Qt::red));
}

TEST(Avatar, APhotoThatGoesAwayLeavesTheInitials) {
    HeaderWorld w;
    w.service.on("GET", "/avatars/a.png", photo(png(Qt::red)));
    w.store().setCurrentUser(user("A", QStringLiteral("/avatars/a.png")));
    w.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.showsPhoto(); }));
    w.store().setCurrentUser(user("A", QStringLiteral("  ")));
    EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::Initials);
    EXPECT_EQ(w.header->profileImage().url(), std::nullopt);
}

TEST(Avatar, AHeaderGoneWhileItsPhotoLoadsIsLeftAlone) {
    HeaderWorld w;
    w.service.on("GET", "/avatars/a.png", photo(png(Qt::red), 300ms));
    w.store().setCurrentUser(user("A", QStringLiteral("/avatars/a.png")));
    w.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.photoRequests("/avatars/a.png") == 1; }));
    delete w.header;
    ASSERT_TRUE(test::answersArrived()); // for no one; the sanitizers watch
    EXPECT_EQ(w.photoRequests("/avatars/a.png"), 1u);
}

} // namespace

TEST(Avatar, ARefusedPhotoIsAskedForOncePerSignInNotAtEveryOpening) {
    HeaderWorld w;
    w.service.on("GET", "/avatars/ada.png", photo(png(Qt::red), 0ms, 404));
    w.store().setCurrentUser(user("1", QStringLiteral("/avatars/ada.png")));
    for (int opening = 0; opening < 3; ++opening) {
        w.show();
        ASSERT_TRUE(test::eventuallyTrue([&] { return w.photoRequests("/avatars/ada.png") >= 1; }));
        test::spin(200ms);
        w.window.hide();
    }
    EXPECT_EQ(w.photoRequests("/avatars/ada.png"), 1u);
    EXPECT_EQ(w.header->shownAvatarFace(), AvatarFace::Initials);

    w.store().signOut();
    w.store().setIsLoggedIn(true);
    w.store().setCurrentUser(user("1", QStringLiteral("/avatars/ada.png")));
    w.show();
    EXPECT_TRUE(test::eventuallyTrue([&] { return w.photoRequests("/avatars/ada.png") == 2; }));
}
