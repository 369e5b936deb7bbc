// The control's members as a host sees them, outside a transfer.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

class ControlTest : public ::testing::Test {
 protected:
  FakeInternet net;
  vizADAVU control =
      detail::Testing::Make(nullptr, nullptr, platform::Services{&net, nullptr, nullptr});
};

TEST_F(ControlTest, NewControlStartsEmpty) {
  EXPECT_EQ(control.FormVarCount(), 0);
  EXPECT_EQ(control.ReceiveBuffer(), u"");
  EXPECT_EQ(control.ReceiveBufferArraySize(), -1);
  EXPECT_EQ(control.ReceiveBufferSize, -1);
  EXPECT_EQ(control.SecurityFlags, 0);
  EXPECT_FALSE(control.Secure_Mode_Off);
  EXPECT_FALSE(control.StrictCertificates);
  EXPECT_EQ(control.URL(), u"");
  EXPECT_EQ(control.StringB(), u"");
  EXPECT_THROW(control.FormVarNames(0), std::out_of_range);
  EXPECT_THROW(control.FormVarValues(0, u"x"), std::out_of_range);
  EXPECT_THROW(control.ReceiveBufferB(0), std::out_of_range);
  EXPECT_EQ(vizADAVU::Width(), 32);
  EXPECT_EQ(vizADAVU::Height(), 32);
}

TEST_F(ControlTest, FormTableGrowsAndShrinksKeepingEntries) {
  control.FormVarCount(3);
  for (Long i = 1; i <= 3; ++i) {
    control.FormVarNames(i, u"n" + Text(1, static_cast<char16_t>(u'0' + i)));
    control.FormVarValues(i, u"v");
  }
  control.FormVarCount(5);
  EXPECT_EQ(control.FormVarNames(3), u"n3");
  EXPECT_EQ(control.FormVarValues(2), u"v");
  EXPECT_EQ(control.FormVarNames(4), u"");
  EXPECT_EQ(control.FormVarValues(5), u"");
  EXPECT_EQ(control.FormVarNames(0), u"");  // index 0 is valid, never sent

  control.FormVarCount(2);
  EXPECT_EQ(control.FormVarCount(), 2);
  EXPECT_EQ(control.FormVarNames(2), u"n2");
  EXPECT_THROW(control.FormVarNames(3), std::out_of_range);
  EXPECT_THROW(control.FormVarValues(-1), std::out_of_range);
  control.FormVarNames(2, u"color");
  EXPECT_EQ(control.FormVarNames(2), u"color");
}

TEST_F(ControlTest, IntegerArgumentsAreRangeCheckedNotWrapped) {
  control.FormVarCount(2);
  EXPECT_THROW(control.FormVarCount(40000), std::overflow_error);
  EXPECT_EQ(control.FormVarCount(), 2);
  EXPECT_THROW(control.FormVarNames(65538), std::overflow_error);  // would wrap to 2
  EXPECT_THROW(control.FormVarValues(-32769, u"x"), std::overflow_error);
  EXPECT_THROW(control.Action(40000), std::overflow_error);
  EXPECT_TRUE(net.calls.empty());
}

TEST_F(ControlTest, NegativeCountIsStoredButTableKeepsItsSize) {
  control.FormVarCount(2);
  control.FormVarNames(2, u"kept");
  EXPECT_THROW(control.FormVarCount(-1), std::out_of_range);
  EXPECT_EQ(control.FormVarCount(), -1);
  EXPECT_EQ(control.FormVarNames(2), u"kept");
  EXPECT_THROW(control.FormVarNames(3), std::out_of_range);
}

TEST_F(ControlTest, LargestTableIsUsable) {
  control.FormVarCount(32767);
  control.FormVarNames(32767, u"last");
  EXPECT_EQ(control.FormVarNames(32767), u"last");
}

// Every code the library produces has a description of its own; others do not.
TEST(Errors, EveryCodeHasItsOwnDescription) {
  const Long codes[] = {errors::NotEnoughMemory,
                        errors::Timeout,
                        errors::InternalError,
                        errors::InvalidUrl,
                        errors::NameNotResolved,
                        errors::InvalidCa,
                        errors::CannotConnect,
                        errors::ConnectionAborted,
                        errors::ConnectionReset,
                        errors::InvalidServerResponse,
                        errors::SecureChannelError,
                        errors::InvalidCertificate,
                        errors::Cancelled,
                        errors::CertDateInvalid,
                        errors::CertCnInvalid,
                        errors::ClientAuthCertNeeded,
                        10054,
                        10060,
                        12057};  // the last three: Windows' own
  std::set<std::string_view> seen;
  for (Long code : codes) {
    EXPECT_NE(errors::Describe(code), "unknown error") << code;
    EXPECT_TRUE(seen.insert(errors::Describe(code)).second) << code;
  }
  for (Long other : {0, -1, 12006, 2147483647}) EXPECT_EQ(errors::Describe(other), "unknown error");
}

TEST(Errors, CodeOfReadsOnlyAWholeDecimalLong) {
  const struct {
    Text message;
    std::optional<Long> code;
  } rows[] = {
      {u"12029", 12029},
      {u"8", 8},
      {u"0", 0},
      {u"-0", 0},
      {u"-1", -1},
      {u"007", 7},
      {u"2147483647", 2147483647},
      {u"-2147483648", -2147483647 - 1},
      {u"2147483648", {}},
      {u"-2147483649", {}},
      {u"99999999999999999999", {}},
      {u"", {}},
      {u"-", {}},
      {u"+5", {}},
      {u" 5", {}},
      {u"5 ", {}},
      {u"12029x", {}},
      {u"1-2", {}},
      {u"--1", {}},
      {u"\uFF11", {}},  // a full-width digit
      {Text(u"12\0", 3), {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(errors::CodeOf(row.message), row.code) << TextToUtf8(row.message);
  }
}

}  // namespace
}  // namespace vizadavu::test
