// What a sent message asks of the network and what the modem says of it: TP-SRR in
// the PDUs only when asked, and the reference read from "+CMGS:".
#include <gtest/gtest.h>

#include "modem/send.h"
#include "platform/registry.h"

namespace velka::modem {
namespace {

TEST(StatusReportRequest, OffLeavesThePdusByteForByteAsDesigned) {
    const TextPlan hi{0, {u"Hi"}};
    EXPECT_EQ(SubmitPdus(hi, "+71234567890", ""),
              (std::vector<std::string>{"0011000B911732547698F00000FF02C834"}));
    EXPECT_EQ(SubmitPdus(hi, "+71234567890", "", DeliveryReports::Off),
              SubmitPdus(hi, "+71234567890", ""));
}

TEST(StatusReportRequest, OnSetsTpSrrInEverySegmentAndChangesNothingElse) {
    const packet record = MakePacket("+79161234567", "08.12.2026 10:00:00", std::string(400, 'a'));
    std::string reference = "2A";
    const auto off = EncodeText(record, reference, Registry::Machine(), DeliveryReports::Off);
    const auto on = EncodeText(record, reference, Registry::Machine(), DeliveryReports::Requested);
    EXPECT_EQ(reference, "2A") << "a reference given is kept";
    ASSERT_EQ(off.size(), 3u);
    ASSERT_EQ(on.size(), off.size());
    for (std::size_t i = 0; i < on.size(); ++i) {
        // "00" SMSC part, then the first octet: 0x51 (SUBMIT, validity, header) plus TP-SRR.
        EXPECT_EQ(off[i].substr(2, 2), "51");
        EXPECT_EQ(on[i].substr(2, 2), "71") << "segment " << i + 1;
        EXPECT_EQ(on[i].substr(4), off[i].substr(4)) << "segment " << i + 1;
    }
}

TEST(ConfirmedReference, ReadsTheNumberAfterCmgsAndRefusesWhatIsNotOne) {
    EXPECT_EQ(ConfirmedReference("+CMGS: 12"), 12);
    EXPECT_EQ(ConfirmedReference("+cmgs: 0"), 0);
    EXPECT_EQ(ConfirmedReference("+CMGS: 255"), 255);
    EXPECT_EQ(ConfirmedReference("+CMGS: 7,\"26/12/08,10:00:00+12\""), 7);
    EXPECT_EQ(ConfirmedReference("+CMGS:"), -1);
    EXPECT_EQ(ConfirmedReference("+CMGS: 256"), -1);
    EXPECT_EQ(ConfirmedReference("+CMGS: x1"), -1);
}

}  // namespace
}  // namespace velka::modem
