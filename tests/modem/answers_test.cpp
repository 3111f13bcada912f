// What the dialogue makes of single answers, without a modem: which error results
// mean "busy, try again", and status reports taken apart and kept in reports.db.
#include <gtest/gtest.h>

#include "modem/dialogue.h"
#include "modem/status_report.h"
#include "platform/files.h"
#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::modem {
namespace {

TEST(BusyAnswerTest, SimBusyAndPleaseWaitInNumbersAndWordsAreBusy) {
    for (const char* line :
         {"+CME ERROR: 14", "+CME ERROR: 515", "+CMS ERROR: 314", "+cme error: sim busy",
          "+CMS ERROR: SIM busy", "+CME ERROR: Please wait, init or command processing in progress",
          " +CME ERROR: 14 "}) {
        EXPECT_TRUE(IsBusyAnswer(line)) << line;
    }
}

TEST(BusyAnswerTest, FinalErrorsAndOtherCodesAreNotBusy) {
    for (const char* line :
         {"ERROR", "+CME ERROR: 10", "+CME ERROR: 140", "+CMS ERROR: 3140", "+CMS ERROR: 500",
          "+CMS ERROR: 512", "+CME ERROR: 11", "OK", "+CME ERROR: SIM PIN required"}) {
        EXPECT_FALSE(IsBusyAnswer(line)) << line;
    }
}

// The forms vendors' firmware answers with instead of "ERROR" end an answer as a
// refusal, as "ERROR" does; lines that only look like them do not.
TEST(FinalAnswerTest, EveryDocumentedRefusalEndsTheAnswerAndLookalikesDoNot) {
    for (const char* line :
         {"ERROR", "+CME ERROR: 10", "+CMS ERROR: 500", "+cme error: SIM not inserted",
          "NO CARRIER", "NO DIALTONE", "BUSY", "NO ANSWER", "COMMAND NOT SUPPORT",
          "command not support", "TOO MANY PARAMETERS", "ABORTED", " ERROR "}) {
        EXPECT_EQ(ClassifyLine(line), LineKind::Error) << line;
    }
    EXPECT_EQ(ClassifyLine("ok"), LineKind::Ok);
    for (const char* line : {"+CMGS: 12", "ERRORS", "BUSY LINE", "+COPS: 0,0,\"ERROR\"",
                             "^BOOT:20952507,0,0,0,72", "RING", "0791"}) {
        EXPECT_EQ(ClassifyLine(line), LineKind::Other) << line;
    }
}

// SMSC +79990000000; reference 0x2A to +71234567890; time stamps 8 Dec 2026
// 14:40:01 and 14:40:05 (zone +3 h); status 0, delivered.
constexpr const char* kReport =
    "07919799000000F0"
    "06"
    "2A"
    "0B911732547698F0"
    "62218041041021"
    "62218041045021"
    "00";

TEST(StatusReportTest, TheFieldsOfAReportAreRead) {
    ASSERT_TRUE(IsStatusReport(kReport));
    const store::StatusReport report = ParseStatusReport(kReport, "08.12.2026 14:41:00");
    EXPECT_EQ(report.reference, 0x2A);
    EXPECT_EQ(report.recipient, "+71234567890");
    EXPECT_EQ(report.centre_time, "08.12.2026 14:40:01");
    EXPECT_EQ(report.discharged, "08.12.2026 14:40:05");
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.pdu, kReport);
}

TEST(StatusReportTest, DeliversAndSubmitsAreNoReports) {
    EXPECT_FALSE(IsStatusReport("07919799000000F0040B919761214365F70000621340022514210"));
    EXPECT_FALSE(IsStatusReport("0011000B911732547698F00000FF02C834"));
    EXPECT_FALSE(IsStatusReport(""));
    EXPECT_FALSE(IsStatusReport("ZZ"));
}

TEST(StatusReportTest, ACutReportKeepsItsPduAndWhatCouldBeRead) {
    const std::string cut = std::string(kReport).substr(0, 40);  // into the first time stamp
    const store::StatusReport report = ParseStatusReport(cut, "now");
    EXPECT_EQ(report.reference, 0x2A);
    EXPECT_EQ(report.recipient, "+71234567890");
    EXPECT_EQ(report.centre_time, "");
    EXPECT_EQ(report.status, -1);
    EXPECT_EQ(report.pdu, cut);
}

TEST(ReportsFileTest, ReportsComeBackAsWrittenAndATornRecordIsCutOff) {
    velka::testing::TempDir dir;
    const std::string path = store::ReportsPathBeside(dir.File("inbox.db"));
    EXPECT_EQ(path, dir.File("reports.db"));
    EXPECT_TRUE(store::LoadReports(path)->empty()) << "no file holds no reports";
    const store::StatusReport first = ParseStatusReport(kReport, "08.12.2026 14:41:00");
    ASSERT_TRUE(store::AppendReports(velka::testing::BoxHeld(path), path, {first}));
    ASSERT_TRUE(files::AppendDurably(path, "08.12.2026\t4"));  // a crash in mid-append
    store::StatusReport second = first;
    second.reference = 7;
    ASSERT_TRUE(store::AppendReports(velka::testing::BoxHeld(path), path, {second}));
    EXPECT_EQ(*files::Size(path), 2 * store::kReportRecordSize);
    EXPECT_EQ(*store::LoadReports(path), (std::vector<store::StatusReport>{first, second}));
}

}  // namespace
}  // namespace velka::modem
