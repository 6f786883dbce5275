// Sessions, targets and the presentation rules, on a window system in memory.
#include <gtest/gtest.h>

#include "launcher/display/draw.h"
#include "tests/support/fake_window.h"

namespace {

class Screen : public ::testing::Test {
protected:
    void SetUp() override { fake::openScreen(); }
    void TearDown() override { fake::closeScreen(); }

    // Paints the back buffer in one colour through a screen session.
    static void paintBackBuffer(uint8_t grey) {
        Image* solid = createImage(640, 480, 24);
        for (int i = 0; i < 640 * 480 * 3; ++i) solid->pixels[i] = grey;
        beginSession(screenTarget());
        pasteImage(solid, 0, 0);
        endSession();
        destroyImage(solid);
    }
};

TEST_F(Screen, OpensClearedToBlackAndAsksForItsFirstRepaint) {
    ASSERT_TRUE(screenIsOpen());
    const Image* back = screenBackBuffer();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width, 640);
    EXPECT_EQ(back->height, 480);
    EXPECT_EQ(back->pixels[123 * back->pitch + 456 * 4], 0);
    EXPECT_TRUE(fake::window().pushes.empty()) << "nothing is presented during creation";
    EXPECT_TRUE(screenAreaNeedsRepaint());
    EXPECT_EQ(fake::window().at(0, 0)[0], 0xF0) << "the window shows its background until then";
}

TEST_F(Screen, BackBufferDrawingShowsOnlyAtTheNextRepaint) {
    paintBackBuffer(77);
    paintBackBuffer(88);
    EXPECT_TRUE(fake::window().pushes.empty()) << "ending screen sessions presents nothing";
    EXPECT_EQ(fake::window().at(10, 10)[0], 0xF0);

    serveScreenRepaint();
    EXPECT_FALSE(screenAreaNeedsRepaint());
    ASSERT_EQ(fake::window().pushes.size(), 1u);
    const fake::Push p = fake::window().pushes[0];
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    EXPECT_EQ(fake::window().at(10, 10)[0], 88);
    EXPECT_EQ(fake::window().at(639, 479)[1], 88);

    // The back buffer keeps its content: a later repaint shows it again over
    // whatever was drawn on the window.
    fake::window().at(5, 5)[0] = 1;
    serveScreenRepaint();
    EXPECT_EQ(fake::window().at(5, 5)[0], 88);
}

TEST_F(Screen, WindowDrawingShowsAtOnceAndOnlyTheTouchedRows) {
    Image* strip = createImage(640, 20, 32);
    for (int i = 0; i < 640 * 20 * 4; ++i) strip->pixels[i] = 200;
    beginSession(windowTarget());
    pasteImage(strip, 0, 460);
    endSession();
    ASSERT_EQ(fake::window().pushes.size(), 1u);
    const fake::Push p = fake::window().pushes[0];
    EXPECT_EQ(p.y, 460);
    EXPECT_EQ(p.height, 20);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(fake::window().at(0, 460)[0], 200);
    EXPECT_EQ(fake::window().at(0, 459)[0], 0xF0);

    // A 640 x 480 image blended at (0, 460) changes only rows 460 to 479, with
    // its first 20 rows; a second blend works on the result of the first.
    Image* overlay = createImage(640, 480, 32);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) overlay->pixels[y * overlay->pitch + x * 4 + 3] = y % 2 ? 246 : 0;
    for (int pass = 0; pass < 2; ++pass) {
        beginSession(windowTarget());
        blendImage(overlay, 0, 460, 100);
        endSession();
    }
    EXPECT_EQ(fake::window().at(3, 460)[0], 200);
    EXPECT_NEAR(fake::window().at(3, 461)[0], 200 * 0.622 * 0.622, 1.5);
    EXPECT_EQ(fake::window().at(3, 459)[0], 0xF0);
    EXPECT_EQ(fake::window().pushes.back().y, 460);
    EXPECT_EQ(fake::window().pushes.back().height, 20);

    // A presentation puts the back buffer's rows back over the strip.
    serveScreenRepaint();
    EXPECT_EQ(fake::window().at(3, 461)[0], 0);
    destroyImage(strip);
    destroyImage(overlay);
}

TEST_F(Screen, EverySessionStartsFromTheDefaults) {
    fake::BlockFont font(4, "X");
    Image* image = createImage(8, 4, 32);
    ASSERT_TRUE(beginSession(imageTarget(image)));
    DrawingSession* s = currentSession();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->textColour, 0xFFFFFFu);
    EXPECT_EQ(s->backgroundColour, 0u);
    EXPECT_EQ(s->textBackground, TextBackground::Opaque);
    EXPECT_EQ(s->font, nullptr);
    setTextColour(rgb(255, 0, 0));
    setTextBackground(TextBackground::Transparent);
    selectFont(&font.font);
    endSession();
    EXPECT_EQ(currentSession(), nullptr);

    // The next session, on another target, draws white again once it has a font.
    ASSERT_TRUE(beginSession(screenTarget()));
    EXPECT_EQ(currentSession()->font, nullptr);
    EXPECT_EQ(currentSession()->textBackground, TextBackground::Opaque);
    selectFont(&font.font);
    putText(0, 0, "X");
    endSession();
    const Image* back = screenBackBuffer();
    EXPECT_EQ(back->pixels[0], 255);
    EXPECT_EQ(back->pixels[1], 255);
    EXPECT_EQ(back->pixels[2], 255);
    destroyImage(image);
}

TEST_F(Screen, MissingTargetsBeginNothingAndLaterSessionsWork) {
    EXPECT_FALSE(beginSession(nullptr));
    EXPECT_EQ(currentSession(), nullptr);
    endSession();  // does nothing
    EXPECT_EQ(imageTarget(nullptr), nullptr);
    Image empty{};
    EXPECT_EQ(imageTarget(&empty), nullptr);

    ASSERT_TRUE(beginSession(screenTarget()));
    EXPECT_FALSE(beginSession(screenTarget())) << "one session at a time";
    EXPECT_NE(currentSession(), nullptr);
    endSession();

    // Targets are given back: many sessions in a row never run out of them.
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(beginSession(windowTarget()));
        endSession();
        EXPECT_FALSE(beginSession(nullptr));
    }
}

TEST_F(Screen, TargetsNeedTheirSurface) {
    destroyScreen();
    EXPECT_EQ(screenTarget(), nullptr);
    EXPECT_NE(windowTarget(), nullptr);
    endSession();
    destroyLoaderWindow();
    EXPECT_EQ(windowTarget(), nullptr);
}

TEST_F(Screen, FollowsTheWindowSizeAndScales) {
    paintBackBuffer(50);
    fake::window().clientWidth = 320;
    fake::window().clientHeight = 240;
    fake::window().pixels.assign(320 * 240 * 4, 0);
    serveWindowSizeChange();
    EXPECT_EQ(screenArea().width, 320);
    EXPECT_EQ(screenArea().height, 240);
    EXPECT_EQ(screenBackBuffer()->width, 640) << "the back buffer keeps its size";
    EXPECT_EQ(fake::window().at(319, 239)[0], 50);
    EXPECT_EQ(fake::window().pushes.back().width, 320);
}

TEST(ScreenCreation, FailsWithoutFacilityOrWindow) {
    fake::closeScreen();
    fake::window() = fake::Window{};
    setWindowSystem(&fake::system());
    EXPECT_FALSE(createScreen(0, 0, 0, 640, 480, true, 0, 0, true));
    fake::window().facilityWorks = false;
    EXPECT_FALSE(initScreenFacility());
    fake::window().facilityWorks = true;
    EXPECT_TRUE(initScreenFacility());
    fake::window().facilityWorks = false;
    EXPECT_TRUE(initScreenFacility()) << "once it has succeeded it stays so";
    EXPECT_FALSE(createScreen(0, 0, 0, 640, 480, true, 0, 0, true)) << "no window";
    fake::window().windowWorks = false;
    EXPECT_EQ(createLoaderWindow(640, 480, "t"), 0u);
    fake::window().windowWorks = true;
    const uintptr_t w = createLoaderWindow(640, 480, "t");
    ASSERT_NE(w, 0u);
    EXPECT_TRUE(createScreen(w, 0, 0, 640, 480, true, 0, 0, true));
    EXPECT_TRUE(createScreen(w, 0, 0, 640, 480, true, 0, 0, true)) << "a second screen replaces the first";
    fake::closeScreen();
    EXPECT_FALSE(screenIsOpen());
}

}  // namespace
