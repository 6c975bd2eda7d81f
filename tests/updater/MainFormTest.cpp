// The never-shown form carries its design.
#include "Main.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

namespace calmora::update {
namespace {

TEST(MainForm, CarriesItsDesignAndStaysHidden)
{
    int argc = 3;
    char name[] = "test_updater";
    char platformOption[] = "-platform";
    char platform[] = "offscreen";
    char* argv[] = {name, platformOption, platform, nullptr};
    QApplication application(argc, argv);

    const Main form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Form1");
    EXPECT_EQ(form.size(), QSize(313, 56));  // 4695 by 840 twips
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0x80, 0x80, 0xFF));
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(32, 32)));

    ASSERT_NE(form.Label1, nullptr);
    EXPECT_EQ(form.Label1->text(), "Updating.... Calmora");
    EXPECT_EQ(form.Label1->geometry(), QRect(32, 16, 249, 25));  // 480, 240, 3735, 375 twips
    EXPECT_EQ(form.Label1->font().family(), "Verdana");
    EXPECT_EQ(form.Label1->font().weight(), QFont::Bold);
    EXPECT_DOUBLE_EQ(form.Label1->font().pointSizeF(), 11.25);
    EXPECT_EQ(form.Label1->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xC0));
    EXPECT_EQ(form.Label1->palette().color(QPalette::Window), QColor(0x80, 0x80, 0xFF));
}

}  // namespace
}  // namespace calmora::update
