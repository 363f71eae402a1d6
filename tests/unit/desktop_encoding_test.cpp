// Saving a GDI+ image: which encoder the MIME type selects, and the cases
// refused before any encoder search.
#include <gtest/gtest.h>

#include <cstring>

#include "desktop/desktop.h"
#include "desktop_test_support.h"
#include "fake_platform.h"

namespace {

using namespace desktop_test;

// Records the class identifier each save receives.
class RecordingGdiplus : public fake::FakePlatform {
 public:
  std::vector<std::string> savedClsids;
  int SaveImage(platform::Handle image, const std::string& file,
                const std::uint8_t clsid[16]) override {
    savedClsids.push_back(modrik::ClsidToText(clsid));
    return FakePlatform::SaveImage(image, file, clsid);
  }
};

TEST(ImageEncoding, ClsidTextHasRegistryByteOrderAndReadsBack) {
  EXPECT_EQ(modrik::ClsidToText(kPngClsid), kPngClsidText);
  std::uint8_t back[16] = {};
  ASSERT_TRUE(modrik::ClsidFromText(kPngClsidText, back));
  EXPECT_EQ(std::memcmp(back, kPngClsid, 16), 0);
  EXPECT_FALSE(modrik::ClsidFromText("", back));
  EXPECT_FALSE(modrik::ClsidFromText("{557CF406-1A04-11D3-9A73-0000F81EF32G}", back));
  EXPECT_FALSE(modrik::ClsidFromText("{557CF406-1A04-11D3-9A73+0000F81EF32E}", back));
}

TEST(ImageEncoding, SearchMatchesSubstringsWithoutRegardToCase) {
  fake::FakePlatform sys;
  sys.encoders = StandardEncoders();
  sys.encoders.insert(sys.encoders.begin(), Encoder(0x90, ""));  // never matches
  sys.encoders.push_back(Encoder(0x50, "IMAGE/PNG-EXTRA"));

  EXPECT_EQ(modrik::FindEncoderClsid("image/png"), kPngClsidText);
  EXPECT_EQ(modrik::FindEncoderClsid("IMAGE/PNG"), kPngClsidText);
  EXPECT_EQ(modrik::FindEncoderClsid("png"), kPngClsidText);  // first containing it
  EXPECT_EQ(modrik::FindEncoderClsid("-extra"), modrik::ClsidToText(sys.encoders.back().clsid));
  // An empty request: the first encoder with a MIME type at all.
  EXPECT_EQ(modrik::FindEncoderClsid(""), modrik::ClsidToText(sys.encoders[1].clsid));
  EXPECT_EQ(modrik::FindEncoderClsid("image/webp"), "");
}

TEST(ImageEncoding, SaveUsesTheFoundEncoderAndKeepsBlanksInTheName) {
  RecordingGdiplus sys;
  sys.encoders = StandardEncoders();
  EXPECT_EQ(modrik::SaveImageAsPng(0xB17, " z:\\tmp\\a b.png "), 0);
  ASSERT_EQ(sys.savedImages.size(), 1u);
  EXPECT_EQ(sys.savedImages[0], " z:\\tmp\\a b.png ");
  EXPECT_EQ(sys.savedClsids[0], kPngClsidText);

  EXPECT_EQ(modrik::SaveImageWithEncoder(0xB17, "z:\\tmp\\a.jpg", "JPEG"), 0);
  EXPECT_EQ(sys.savedClsids[1], modrik::ClsidToText(sys.encoders[1].clsid));

  sys.saveStatus = 7;  // a failing save passes GDI+'s status through
  EXPECT_EQ(modrik::SaveImageAsPng(0xB17, "z:\\tmp\\c.png"), 7);
}

TEST(ImageEncoding, RefusedSavesReturnInvalidParameter) {
  fake::FakePlatform sys;
  sys.encoders = StandardEncoders();
  // No image, or a name of blanks only: refused before any encoder search.
  EXPECT_EQ(modrik::SaveImageAsPng(0, "z:\\tmp\\a.png"), 2);
  EXPECT_EQ(modrik::SaveImageAsPng(0xB17, ""), 2);
  EXPECT_EQ(modrik::SaveImageAsPng(0xB17, "   "), 2);
  EXPECT_EQ(sys.encoderSearches, 0);
  // No encoder for the type: searched, nothing saved.
  EXPECT_EQ(modrik::SaveImageWithEncoder(0xB17, "z:\\tmp\\a.webp", "image/webp"), 2);
  EXPECT_EQ(sys.encoderSearches, 1);
  // No encoder list at all.
  sys.encodersStatus = 1;
  EXPECT_EQ(modrik::FindEncoderClsid("image/png"), "");
  EXPECT_EQ(modrik::SaveImageAsPng(0xB17, "z:\\tmp\\a.png"), 2);
  EXPECT_TRUE(sys.savedImages.empty());
}

}  // namespace
