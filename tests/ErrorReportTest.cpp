#include "app/report/ErrorReport.h"
#include "app/report/Guarded.h"
#include "platform/PlatformError.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

TEST(ErrorReportTest, textIsExactToTheByte) {
    RecordingBoxes boxes;
    ShowErrorReport(boxes, u"Permission denied", procedureTag(u"PushButton3_Click"), 132);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].prompt,
              u"Permission denied\r\nin Tarnwick2021/08/31.Form1.PushButton3_Click at line "
              u"132\r\rPlease email screenshot of this message to support@quorvane.example");
    EXPECT_EQ(boxes.shown[0].style, 48);
    EXPECT_EQ(boxes.shown[0].title, u"Application Error");
    EXPECT_EQ(errorReportText(u"", u"in T ", 7).substr(0, 2), u"\r\n");
}

// A small procedure: 10 may fail and resumes at 30; 20 is skipped by 10's jump;
// 30 may fail at the end of the table.
class GuardedTest : public testing::Test {
  protected:
    void run(bool fail10, bool fail30, const FailureReported& reported = {}) {
        const GuardedStep steps[] = {
            {10,
             [&] {
                 trace += "10 ";
                 if (fail10)
                     throw PlatformError(u"first");
                 return 40;
             },
             30},
            {20,
             [&] {
                 trace += "20 ";
                 return kNextStep;
             },
             kNextStep},
            {30,
             [&] {
                 trace += "30 ";
                 if (fail30)
                     throw std::runtime_error("second");
                 return kNextStep;
             },
             kEndProcedure},
            {40,
             [&] {
                 trace += "40 ";
                 return kEndProcedure;
             },
             kEndProcedure},
        };
        RunGuarded(boxes, u"Proc", steps, reported);
    }
    std::string trace;
    RecordingBoxes boxes;
};

TEST_F(GuardedTest, stepsFollowTheirJumps) {
    run(false, false);
    EXPECT_EQ(trace, "10 40 ");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(GuardedTest, eachFailureIsReportedInOrderAndResumesWhereItsRowSays) {
    run(true, true);
    EXPECT_EQ(trace, "10 30 ");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].prompt.substr(0, 7), u"first\r\n");
    EXPECT_NE(boxes.shown[0].prompt.find(u"Form1.Proc at line 10\r"), std::u16string::npos);
    EXPECT_EQ(boxes.shown[1].prompt.substr(0, 8), u"second\r\n");
    EXPECT_NE(boxes.shown[1].prompt.find(u"at line 30\r"), std::u16string::npos);
}

TEST_F(GuardedTest, aReportThatCannotBeShownDoesNotStopTheProcedure) {
    boxes.onShow = [](const ShownBox&) { throw PlatformError(u"no display"); };
    run(true, false);
    EXPECT_EQ(trace, "10 30 40 ");
}

TEST_F(GuardedTest, anObserverThatThrowsDoesNotHideTheReport) {
    run(true, false, [](int, std::u16string_view) { throw std::runtime_error("observer"); });
    EXPECT_EQ(trace, "10 30 40 ");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].prompt.substr(0, 7), u"first\r\n");
}
