// The "Script Management" icon: well-formed XPM text of the stated size and colour count, and a
// picture with the stated transparent border, a white sheet and a blue-and-yellow emblem.
#include "menu/ScriptIcon.h"
#include "tests/support/TestSupport.h"

#include <wx/bitmap.h>
#include <wx/image.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

namespace {

TEST(MenuIcon, XpmTextHasTheStatedShape) {
    ASSERT_EQ(std::string(script_icon_xpm[0]), "16 16 105 2");

    std::map<std::string, std::string> colours; // key -> colour
    std::set<std::string> values;
    for (int line = 1; line <= 105; ++line) {
        const std::string text = script_icon_xpm[line];
        ASSERT_GE(text.size(), 6u) << text;
        EXPECT_EQ(text.substr(2, 3), " c ") << text;
        const std::string key = text.substr(0, 2);
        const std::string value = text.substr(5);
        EXPECT_TRUE(value == "None" || (value.size() == 7 && value[0] == '#')) << text;
        EXPECT_TRUE(colours.emplace(key, value).second) << "key used twice: " << text;
        EXPECT_TRUE(values.insert(value).second) << "colour given twice: " << text;
    }
    ASSERT_EQ(colours.count("  "), 1u);
    EXPECT_EQ(colours["  "], "None");

    std::set<std::string> used;
    for (int row = 0; row < 16; ++row) {
        const std::string text = script_icon_xpm[106 + row];
        ASSERT_EQ(text.size(), 32u) << "row " << row;
        for (int column = 0; column < 16; ++column) {
            const std::string key = text.substr(2 * column, 2);
            ASSERT_EQ(colours.count(key), 1u) << "row " << row << " column " << column;
            used.insert(key);
            const bool border = row == 0 || row == 15 || column <= 1 || column == 15;
            if (border) {
                EXPECT_EQ(colours[key], "None") << "row " << row << " column " << column;
            }
        }
    }
    EXPECT_EQ(used.size(), 105u) << "every colour is used";
}

bool IsBlue(const wxImage& image, int x, int y) {
    const int r = image.GetRed(x, y), g = image.GetGreen(x, y), b = image.GetBlue(x, y);
    return b > r + 60 && b > g + 10;
}

bool IsYellow(const wxImage& image, int x, int y) {
    const int r = image.GetRed(x, y), g = image.GetGreen(x, y), b = image.GetBlue(x, y);
    return r > 190 && g > 140 && b < 130;
}

bool IsTransparent(const wxImage& image, int x, int y) {
    return image.GetAlpha(x, y) == 0;
}

TEST(MenuIcon, PictureIsASheetWithABlueAndYellowEmblem) {
    wxBitmap bitmap(script_icon_xpm);
    ASSERT_TRUE(bitmap.IsOk());
    ASSERT_EQ(bitmap.GetWidth(), 16);
    ASSERT_EQ(bitmap.GetHeight(), 16);
    wxImage image = bitmap.ConvertToImage();
    ASSERT_TRUE(image.HasMask());
    image.InitAlpha();

    // The sheet: white paper, its top-right corner turned down (cut away from the outline).
    EXPECT_TRUE(IsTransparent(image, 14, 1));
    EXPECT_FALSE(IsTransparent(image, 12, 12));
    for (int y = 3; y <= 5; ++y)
        EXPECT_GT(image.GetRed(5, y) + image.GetGreen(5, y) + image.GetBlue(5, y), 3 * 225);
    for (int y = 1; y <= 14; ++y)
        EXPECT_FALSE(IsTransparent(image, 3, y)) << "the sheet's left edge, row " << y;

    // The emblem: blue at the upper left, yellow at the lower right, over the sheet's left half,
    // reaching one column past the sheet's left edge.
    int blue = 0, yellow = 0, column2 = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            if (IsTransparent(image, x, y))
                continue;
            if (x == 2)
                ++column2;
            if (IsBlue(image, x, y)) {
                ++blue;
                EXPECT_LT(x + y, 15) << x << "," << y;
                EXPECT_LE(x, 9);
            }
            if (IsYellow(image, x, y)) {
                ++yellow;
                EXPECT_GE(x + y, 14) << x << "," << y;
                EXPECT_LE(x, 9);
            }
        }
    }
    EXPECT_GE(blue, 12);
    EXPECT_GE(yellow, 12);
    EXPECT_GE(column2, 2);

    // An enlarged copy for people to look at; COILHATCH_ICON_PNG names where it goes.
    wxImage::AddHandler(new wxPNGHandler);
    testing_support::TempDir dir;
    const char* target = std::getenv("COILHATCH_ICON_PNG");
    const wxString path = target ? wxString::FromUTF8(target) : dir.File("script_icon_8x.png");
    const wxImage large = image.Scale(128, 128, wxIMAGE_QUALITY_NEAREST);
    ASSERT_TRUE(large.SaveFile(path, wxBITMAP_TYPE_PNG));
    wxImage reread(path, wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(reread.IsOk());
    EXPECT_EQ(reread.GetWidth(), 128);
}

} // namespace
