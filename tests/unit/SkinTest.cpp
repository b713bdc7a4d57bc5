#include <gtest/gtest.h>

#include <iterator>

#include "FakeFileSystem.h"
#include "FakePorts.h"
#include "FakeProfile.h"
#include "app/SkinnedNotice.h"
#include "skin/Skin.h"
#include "skin/TrayArt.h"

namespace umbrane {
namespace {

using namespace fakes;

TEST(Skin, ParseColor) {
  EXPECT_EQ(ParseColor("#1d4E89"), (Rgb{0x1D, 0x4E, 0x89}));
  EXPECT_EQ(ParseColor("#000000"), (Rgb{0, 0, 0}));
  for (const char* bad : {"", "1D4E89", "#1D4E8", "#1D4E899", "#1G4E89", "red", "# 1D4E8"}) {
    EXPECT_FALSE(ParseColor(bad)) << bad;
  }
}

TEST(Skin, MissingFileGivesTheDefaultLook) {
  FakeFileSystem files;
  FakeProfile profile(files);
  EXPECT_EQ(ReadSkin(profile, "C:\\none.skn"), SkinLook{});
  EXPECT_EQ(SkinLook{}.font, (FontSpec{"Tahoma", 8, false}));
  EXPECT_EQ(SkinLook{}.appNameFont, (FontSpec{"Tahoma", 18, false}));
}

TEST(Skin, EachMalformedValueFallsBackAlone) {
  FakeFileSystem files;
  FakeProfile profile(files);
  files.AddFile("C:\\s.skn",
                "[Window]\r\nColor=#102030\r\nTextColor=blue\r\nFontName=Verdana\r\n"
                "FontSize=huge\r\n[AppName]\r\nFontSize=200\r\nFontName=" +
                    std::string(40, 'x') +
                    "\r\n[Notice]\r\nFontSize=10\r\nFontBold=1\r\nTitleColor=#ABCDEF\r\n"
                    "[Menu]\r\nColor=#12345\r\n");
  const SkinLook look = ReadSkin(profile, "C:\\s.skn");
  const SkinLook defaults;
  EXPECT_EQ(look.windowColor, (Rgb{0x10, 0x20, 0x30}));
  EXPECT_EQ(look.textColor, defaults.textColor);
  EXPECT_EQ(look.font, (FontSpec{"Verdana", 8, false}));
  EXPECT_EQ(look.appNameFont, defaults.appNameFont);
  EXPECT_EQ(look.noticeFont, (FontSpec{"Tahoma", 10, true}));
  EXPECT_EQ(look.noticeTitleColor, (Rgb{0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(look.menuColor, defaults.menuColor);
}

TEST(SkinnedNotice, CopyTextIsSevenLinesWithoutAFinalLineEnd) {
  const std::string rule(27, '-');
  EXPECT_EQ(NoticeCopyText("Umbrane", "Please restart Opera.", {"OK"}),
            rule + "\r\nUmbrane\r\n" + rule + "\r\nPlease restart Opera.\r\n" + rule +
                "\r\nOK\r\n" + rule);
  EXPECT_EQ(NoticeCopyText("T", "M", {"Yes", "No"}),
            rule + "\r\nT\r\n" + rule + "\r\nM\r\n" + rule + "\r\nYes   No\r\n" + rule);
}

TEST(SkinnedNotice, CtrlCCopiesWithOrWithoutShiftButCAloneDoesNot) {
  EXPECT_TRUE(IsCopyChord('C', true));  // Ctrl+C, and Ctrl+Shift+C: Shift does not matter
  EXPECT_FALSE(IsCopyChord('C', false));
  EXPECT_FALSE(IsCopyChord('V', true));
}

TEST(SkinnedNotice, LookIsReadAfreshForEachNotice) {
  FakeFileSystem files;
  FakeProfile profile(files);
  FakeDialogs dialogs;
  files.AddFile("C:\\s.skn", "[Notice]\r\nColor=#010203\r\n");
  ShowSkinnedMessage(dialogs, profile, "C:\\s.skn", "Umbrane", "OK", "Restart Opera");
  files.AddFile("C:\\s.skn", "[Notice]\r\nColor=#040506\r\n");
  ShowSkinnedMessage(dialogs, profile, "C:\\s.skn", "Umbrane", "OK", "Restart Opera");
  ASSERT_EQ(dialogs.notices.size(), 2u);
  EXPECT_EQ(dialogs.notices[0].look.noticeColor, (Rgb{1, 2, 3}));
  EXPECT_EQ(dialogs.notices[1].look.noticeColor, (Rgb{4, 5, 6}));
  EXPECT_EQ(dialogs.notices[1].caption, "Umbrane");
  EXPECT_EQ(dialogs.notices[1].buttonCaption, "OK");
  EXPECT_EQ(dialogs.notices[1].text, "Restart Opera");
}

std::uint32_t Alpha(std::uint32_t p) {
  return p >> 24;
}

TEST(TrayArt, BusyFramesDifferAndLoop) {
  for (int i = 0; i < kBusyFrames; ++i) {
    EXPECT_NE(DrawBusyFrame(i), DrawBusyFrame((i + 1) % kBusyFrames)) << i;
  }
  EXPECT_EQ(DrawBusyFrame(7), DrawBusyFrame(0));
  EXPECT_NE(DrawStartIcon(), DrawBusyFrame(0));
}

TEST(TrayArt, OnAndOffAreOneShapeInTwoColours) {
  const TrayPixels on = DrawStatusImage(true);
  ASSERT_EQ(on.size(), 256u);
  const TrayPixels off = DrawStatusImage(false);
  EXPECT_NE(on, off);
  int opaque = 0;
  for (std::size_t i = 0; i < on.size(); ++i) {
    EXPECT_EQ(Alpha(on[i]), Alpha(off[i])) << i;
    opaque += Alpha(on[i]) == 255;
  }
  EXPECT_GT(opaque, 120) << "a badge that fills most of the square";
  EXPECT_EQ(Alpha(on[0]), 0u) << "transparent corners";
  EXPECT_EQ(Alpha(on[255]), 0u);
}

TEST(TrayArt, TheBadgeScalesForTheAboutWindow) {
  const TrayPixels big = DrawStatusImage(true, 48);
  ASSERT_EQ(big.size(), 48u * 48u);
  EXPECT_EQ(Alpha(big[0]), 0u);
  EXPECT_EQ(Alpha(big[24 * 48 + 4]), 255u) << "inside the rim on the left";
  EXPECT_EQ(big[24 * 48 + 4], 0xFF1A7F37u) << "the green rim, sharp at this size";
}

// The tray asks for 16, 20, 24, 32 or 40 pixels at 100 to 250 %: every
// picture is drawn at that size with its shapes in proportion, not a 16-pixel
// picture in a corner or stretched.
TEST(TrayArt, EveryPictureIsDrawnAtTheSizeTheTrayAsksFor) {
  auto coverage = [](const TrayPixels& p) {
    double sum = 0;
    for (std::uint32_t v : p) {
      sum += Alpha(v) / 255.0;
    }
    return sum;
  };
  // A finely sampled drawing gives each shape's true area.
  constexpr int kFine = 64;
  const TrayPixels fine[] = {DrawStartIcon(kFine), DrawBusyFrame(3, kFine),
                             DrawStatusImage(false, kFine)};
  for (int size : {16, 20, 24, 32, 40}) {
    const TrayPixels pictures[] = {DrawStartIcon(size), DrawBusyFrame(3, size),
                                   DrawStatusImage(false, size)};
    const double scale = (size / double{kFine}) * (size / double{kFine});
    for (std::size_t k = 0; k < std::size(pictures); ++k) {
      const TrayPixels& p = pictures[k];
      ASSERT_EQ(p.size(), static_cast<std::size_t>(size * size)) << size;
      const double expected = coverage(fine[k]) * scale;
      EXPECT_NEAR(coverage(p), expected, expected * 0.15) << "picture " << k << " at " << size;
      EXPECT_EQ(Alpha(p[static_cast<std::size_t>(size * size - 1)]), 0u) << "corner " << size;
    }
    // The busy ring's head (the top dot in frame 0) is solid at its centre.
    const TrayPixels ring = DrawBusyFrame(0, size);
    const int x = size / 2;
    const int y = static_cast<int>((7.5 - 5.4 + 0.5) * size / 16.0);
    EXPECT_EQ(ring[static_cast<std::size_t>(y * size + x)], 0xFF2E7DF6u) << size;
  }
}

}  // namespace
}  // namespace umbrane
