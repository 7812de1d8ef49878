#include "apps/varnel/byte_units.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

namespace vn::cli {
namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = kKiB * 1024;
constexpr std::int64_t kGiB = kMiB * 1024;
constexpr std::int64_t kTiB = kGiB * 1024;

std::string RejectionOf(const std::string& text) {
  try {
    ParseByteCount(text);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "accepted";
}

TEST(ByteUnits, ParsesPlainNumbersAndPowersOf1024) {
  EXPECT_EQ(ParseByteCount("0"), 0);
  EXPECT_EQ(ParseByteCount("1500"), 1500);
  EXPECT_EQ(ParseByteCount("1500B"), 1500);
  EXPECT_EQ(ParseByteCount("500K"), 500 * kKiB);
  EXPECT_EQ(ParseByteCount("500k"), 500 * kKiB);
  EXPECT_EQ(ParseByteCount("2M"), 2 * kMiB);
  EXPECT_EQ(ParseByteCount("2MB"), 2 * kMiB);
  EXPECT_EQ(ParseByteCount("2MiB"), 2 * kMiB);
  EXPECT_EQ(ParseByteCount("2mib"), 2 * kMiB);
  EXPECT_EQ(ParseByteCount("1.5 GiB"), kGiB + kGiB / 2);
  EXPECT_EQ(ParseByteCount("3T"), 3 * kTiB);
  EXPECT_EQ(ParseByteCount(" 7K "), 7 * kKiB);
}

TEST(ByteUnits, RoundsFractionsDownToWholeBytes) {
  EXPECT_EQ(ParseByteCount("1.1K"), 1126);  // 1126.4
  EXPECT_EQ(ParseByteCount("0.5K"), 512);
  EXPECT_EQ(ParseByteCount("1.0"), 1);
  EXPECT_EQ(ParseByteCount("0.000000000000000000001T"), 0);
}

TEST(ByteUnits, RejectsGarbageWithTheValueInTheMessage) {
  for (const char* garbage : {"", " ", "K", "abc", "1e5", "0x10", "+5", "1.2.3", "1.", ".5K", "5Q",
                              "5  K", "5 KK", "5KiBs", "5iB", "12 apples", "1,5K"}) {
    const std::string message = RejectionOf(garbage);
    EXPECT_NE(message, "accepted") << "'" << garbage << "'";
  }
  EXPECT_EQ(RejectionOf("5Q"), "'5Q' is not a byte count (examples: 1500, 500K, 2MiB, 1.5 GiB)");
  EXPECT_EQ(RejectionOf(""), "a byte count is missing (examples: 1500, 500K, 2MiB, 1.5 GiB)");
  EXPECT_EQ(RejectionOf("1.5"),
            "'1.5' has a fraction of a byte; give a unit (1.5K) or a whole number");
}

TEST(ByteUnits, RejectsNegativesAndOverflow) {
  EXPECT_EQ(RejectionOf("-1"), "'-1' is negative; sizes and rates cannot be");
  EXPECT_EQ(RejectionOf("-5K"), "'-5K' is negative; sizes and rates cannot be");

  EXPECT_EQ(ParseByteCount("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(RejectionOf("9223372036854775808"), "'9223372036854775808' is too large");
  EXPECT_EQ(RejectionOf("99999999999999999999999"), "'99999999999999999999999' is too large");
  EXPECT_EQ(ParseByteCount("8388607T"), 8388607 * kTiB);
  EXPECT_EQ(RejectionOf("8388608T"), "'8388608T' is too large");
}

TEST(ByteUnits, RatesTakeAPerSecondSuffixAndMustBePositive) {
  EXPECT_EQ(ParseRate("512K/s"), 512 * kKiB);
  EXPECT_EQ(ParseRate("2M"), 2 * kMiB);
  EXPECT_EQ(ParseRate("100"), 100);
  EXPECT_THROW(ParseRate("0"), std::invalid_argument);
  EXPECT_THROW(ParseRate("0K/s"), std::invalid_argument);
  EXPECT_THROW(ParseRate("/s"), std::invalid_argument);
  EXPECT_THROW(ParseRate("-2M/s"), std::invalid_argument);
  // Minus zero is zero, not a negative rate.
  for (const std::string zero : {"-0", "-0K"}) {
    try {
      ParseRate(zero);
      ADD_FAILURE() << zero;
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(error.what(), "'" + zero + "' is not a rate; it must be above 0");
    }
  }
  EXPECT_EQ(ParseByteCount("-0"), 0);
  EXPECT_THROW(ParseRate("fast"), std::invalid_argument);
}

TEST(ByteUnits, FormatsWithOneDecimalBelowAHundredUnits) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(-5), "0 B");
  EXPECT_EQ(FormatBytes(999), "999 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(kGiB + kGiB / 2), "1.5 GiB");
  EXPECT_EQ(FormatBytes(512 * kKiB), "512 KiB");
  EXPECT_EQ(FormatBytes(2 * kGiB), "2 GiB");
  EXPECT_EQ(FormatBytes(12 * kMiB + 3 * kMiB / 10), "12.3 MiB");
  EXPECT_EQ(FormatBytes(std::numeric_limits<std::int64_t>::max()), "8 EiB");
}

TEST(ByteUnits, RoundingNeverShowsAThousandAndTwentyFourOfAUnit) {
  EXPECT_EQ(FormatBytes(kMiB - 1), "1 MiB");
  EXPECT_EQ(FormatBytes(100 * kKiB - 1), "100 KiB");
  EXPECT_EQ(FormatBytes(kGiB - kKiB), "1 GiB");
}

TEST(ByteUnits, FormattedSizesParseBackToNearlyTheSameCount) {
  for (std::int64_t bytes :
       {std::int64_t{1}, std::int64_t{1536}, 7 * kMiB + 12345, 3 * kGiB, 5 * kTiB + 77 * kGiB}) {
    const std::int64_t back = ParseByteCount(FormatBytes(bytes));
    EXPECT_NEAR(static_cast<double>(back), static_cast<double>(bytes), bytes * 0.01) << bytes;
  }
}

TEST(ByteUnits, FormatsRatesAndDurations) {
  EXPECT_EQ(FormatRate(512 * kKiB), "512 KiB/s");
  EXPECT_EQ(FormatRate(0), "0 B/s");
  EXPECT_EQ(FormatDuration(0), "0s");
  EXPECT_EQ(FormatDuration(45), "45s");
  EXPECT_EQ(FormatDuration(185), "3m05s");
  EXPECT_EQ(FormatDuration(2 * 3600 + 7 * 60 + 30), "2h07m");
  EXPECT_EQ(FormatDuration(3 * 86400 + 4 * 3600), "3d04h");
  EXPECT_EQ(FormatDuration(std::numeric_limits<std::int64_t>::max()), ">999d");
  EXPECT_EQ(FormatDuration(-1), "-");
}

}  // namespace
}  // namespace vn::cli
