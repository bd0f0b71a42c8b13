// Whether a job in doubt took effect, from the counter readings before and
// after it, for every command that has a counter.
#include <gtest/gtest.h>

#include "settling.h"

namespace zuvsrv {
namespace {

using zuvcmd::Counter;

Json ReceiptState(int number, double cash, double card = 0, int items = 1) {
  return {{"subtotal", 500.0}, {"total", 500.0},    {"items", items},         {"paid_cash", cash},
          {"paid_card", card}, {"paid_cheque", 0.0}, {"receipt_number", number}};
}

TEST(Settling, ZReportTookEffectWhenTheReportNumberRose) {
  const Json none = Json::object();
  EXPECT_EQ(TookEffect(Counter::ReportNumber, none, {{"report_number", 7}}, {{"report_number", 8}}),
            true);
  EXPECT_EQ(TookEffect(Counter::ReportNumber, none, {{"report_number", 7}}, {{"report_number", 7}}),
            false);
  EXPECT_EQ(TookEffect(Counter::ReportNumber, none, {{"report_number", 7}}, {{"items", 8}}),
            std::nullopt);
}

TEST(Settling, VoidTookEffectWhenAnOpenReceiptEmptied) {
  const Json none = Json::object();
  EXPECT_EQ(TookEffect(Counter::ItemCount, none, {{"items", 3}}, {{"items", 0}}), true);
  EXPECT_EQ(TookEffect(Counter::ItemCount, none, {{"items", 3}}, {{"items", 3}}), false);
  // Nothing open: the printer refused, nothing was voided.
  EXPECT_EQ(TookEffect(Counter::ItemCount, none, {{"items", 0}}, {{"items", 0}}), false);
  EXPECT_EQ(TookEffect(Counter::ItemCount, none, nullptr, {{"items", 0}}), std::nullopt);
}

TEST(Settling, CloseTookEffectWhenTheReceiptNumberRose) {
  const Json none = Json::object();
  EXPECT_EQ(TookEffect(Counter::ReceiptState, none, ReceiptState(10, 500), ReceiptState(11, 0)),
            true);
  EXPECT_EQ(TookEffect(Counter::ReceiptState, none, ReceiptState(10, 500), ReceiptState(10, 500)),
            false);
}

TEST(Settling, PaymentTookEffectWhenItsTypeRoseByTheAmountOrItClosedTheReceipt) {
  const Json cash300 = {{"type", "cash"}, {"amount", "300.00"}};
  EXPECT_EQ(TookEffect(Counter::ReceiptState, cash300, ReceiptState(10, 0), ReceiptState(10, 300)),
            true);
  EXPECT_EQ(TookEffect(Counter::ReceiptState, cash300, ReceiptState(10, 100),
                       ReceiptState(10, 400)),
            true);
  EXPECT_EQ(TookEffect(Counter::ReceiptState, cash300, ReceiptState(10, 0), ReceiptState(10, 0)),
            false);
  // The type held more than the amount already: only a rise tells.
  EXPECT_EQ(TookEffect(Counter::ReceiptState, cash300, ReceiptState(10, 450), ReceiptState(10, 450)),
            false);
  // Another type rising is not this payment.
  EXPECT_EQ(TookEffect(Counter::ReceiptState, cash300, ReceiptState(10, 0),
                       ReceiptState(10, 0, 300)),
            false);
  // The payment covered the rest: the receipt closed and the next one is empty.
  EXPECT_EQ(TookEffect(Counter::ReceiptState, cash300, ReceiptState(10, 200), ReceiptState(11, 0)),
            true);
  // Amount 0 pays the rest.
  const Json rest = {{"type", "card"}, {"amount", "0.00"}};
  EXPECT_EQ(TookEffect(Counter::ReceiptState, rest, ReceiptState(10, 0), ReceiptState(11, 0)),
            true);
  EXPECT_EQ(TookEffect(Counter::ReceiptState, rest, ReceiptState(10, 0), ReceiptState(10, 0)),
            false);
  const Json card = {{"type", "card"}, {"amount", "12.34"}};
  EXPECT_EQ(TookEffect(Counter::ReceiptState, card, ReceiptState(10, 0, 1.0),
                       ReceiptState(10, 0, 13.34)),
            true);
}

// The service never takes such readings (its commands' readings always
// hold their fields), so only settling on its own reaches this rule.
TEST(Settling, ReadingsThatDoNotTellLeaveItToAPersonReachableThroughSettlingAlone) {
  const Json pay = {{"type", "voucher"}, {"amount", "1.00"}};
  EXPECT_EQ(TookEffect(Counter::ReceiptState, pay, ReceiptState(1, 0), ReceiptState(1, 1)),
            std::nullopt);
  EXPECT_EQ(TookEffect(Counter::ReceiptState, Json::object(), Json::object(), ReceiptState(1, 0)),
            std::nullopt);
  EXPECT_EQ(TookEffect(Counter::None, Json::object(), nullptr, nullptr), std::nullopt);
}

}  // namespace
}  // namespace zuvsrv
