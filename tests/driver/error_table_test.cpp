#include <gtest/gtest.h>

#include <stdexcept>

#include "driver/comportzuv.h"

using namespace zuv;

namespace {

const int32_t kCodes[] = {-5, -2, -1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                          25, 26, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38, 39, 42, 43, 44, 65, 66,
                          67, 68, 69, 75, 76, 77, 78, 79, 80, 81, 82, 83, 97, 99, 100, 101, 102,
                          103, 104, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227, 228,
                          229, 230, 235};

class ErrorTableTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetDriverState(); }
};

}  // namespace

TEST_F(ErrorTableTest, BothLanguagesHoldTheSame70Codes) {
  for (const char* lang : {"SRB", "GBR"}) {
    SCOPED_TRACE(lang);
    TComPortZUV::ErrorTableK3RTinit(lang);
    ASSERT_EQ(ErrorTableK3RT->size(), 70u);
    for (int32_t code : kCodes) EXPECT_TRUE(TComPortZUV::HasErrorMessage(code)) << code;
    for (int32_t code : {0, 29, 40, 105, 216, 1010}) EXPECT_FALSE(TComPortZUV::HasErrorMessage(code));
  }
}

TEST_F(ErrorTableTest, SerbianTextsAreExact) {
  TComPortZUV::ErrorTableK3RTinit("SRB");
  EXPECT_EQ(TComPortZUV::ErrorMessage(-5), "Greška COM porta");
  EXPECT_EQ(TComPortZUV::ErrorMessage(-1), "Nema odgovora od fiskalnog uređaja");
  EXPECT_EQ(TComPortZUV::ErrorMessage(219), "Podignuta glava štampača.");
  EXPECT_EQ(TComPortZUV::ErrorMessage(65), TComPortZUV::ErrorMessage(219));
  EXPECT_EQ(TComPortZUV::ErrorMessage(36),
            "Fiskalna vrednost je premala. Obračunati porez na zadatu cenu i količinu je nula. ");
  EXPECT_EQ(TComPortZUV::ErrorMessage(37),
            "Fiskalna vrednost je prevelika. Obrčunata vrednost za cenu i količinu izlazi iz opsega.");
  EXPECT_EQ(TComPortZUV::ErrorMessage(27), "Šifra postoji.");
  EXPECT_EQ(TComPortZUV::ErrorMessage(229), "Modem je zauzet");
}

TEST_F(ErrorTableTest, EnglishReplacesSerbian) {
  TComPortZUV::ErrorTableK3RTinit("SRB");
  TComPortZUV::ErrorTableK3RTinit("GBR");
  EXPECT_EQ(TComPortZUV::ErrorMessage(27), "Code already exits.");
  EXPECT_EQ(TComPortZUV::ErrorMessage(79), "Code already exists.");
  EXPECT_EQ(TComPortZUV::ErrorMessage(-5), "Error occured on COM port");
  EXPECT_EQ(TComPortZUV::ErrorMessage(223), "Fiscal memory not fiscalized.");
  for (const auto& [code, text] : *ErrorTableK3RT)
    for (unsigned char c : text) EXPECT_LT(c, 0x80) << code;  // no Serbian text left
}

TEST_F(ErrorTableTest, UnknownLanguageGivesAnEmptyTable) {
  for (const char* lang : {"srb", "", "GBR ", "ENG"}) {
    TComPortZUV::ErrorTableK3RTinit(lang);
    ASSERT_TRUE(ErrorTableK3RT);
    EXPECT_TRUE(ErrorTableK3RT->empty()) << lang;
    EXPECT_FALSE(TComPortZUV::HasErrorMessage(-1));
    EXPECT_THROW(TComPortZUV::ErrorMessage(-1), std::out_of_range);
  }
}

TEST_F(ErrorTableTest, LookupWithoutTable) {
  ResetDriverState();
  EXPECT_FALSE(TComPortZUV::HasErrorMessage(34));
  EXPECT_THROW(TComPortZUV::ErrorMessage(34), std::out_of_range);
}
