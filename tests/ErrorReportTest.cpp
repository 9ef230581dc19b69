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

// A small procedure: 10 goes to 40, skipping 20, and resumes at 30 after a failure; 30 goes on
// to 40 and ends the procedure after a failure.
struct GuardedRow {
    const char* name;
    bool fail10 = false;
    bool fail30 = false;
    int jump10 = 40;   // where step 10 goes on; its route leads only to 40
    int stepLine = 20; // the line the second step's row names; its route says 20
    bool observerFails = false;
    bool boxFails = false;
    std::string trace = {};
    std::vector<std::pair<std::u16string, int>> reports = {}; // description and line, in order
};

const GuardedRow guardedRows[] = {
    {.name = "stepsFollowTheirJumps", .trace = "10 40 "},
    {.name = "eachFailureIsReportedInOrderAndResumesWhereItsRouteSays",
     .fail10 = true,
     .fail30 = true,
     .trace = "10 30 ",
     .reports = {{u"first", 10}, {u"second", 30}}},
    {.name = "aReportThatCannotBeShownDoesNotStopTheProcedure",
     .fail10 = true,
     .boxFails = true,
     .trace = "10 30 40 ",
     .reports = {{u"first", 10}}},
    {.name = "anObserverThatFailsDoesNotHideTheReport",
     .fail10 = true,
     .observerFails = true,
     .trace = "10 30 40 ",
     .reports = {{u"first", 10}}},
    {.name = "aStepThatGoesOffItsRouteIsReportedAndResumes",
     .jump10 = 20,
     .trace = "10 30 40 ",
     .reports = {{u"Step went where its route does not lead", 10}}},
    {.name = "stepsThatDoNotMatchTheirRoutesDoNotRun",
     .stepLine = 22,
     .reports = {{u"Step table does not match its routes", 20}}},
};

class GuardedTest : public testing::TestWithParam<GuardedRow> {};

TEST_P(GuardedTest, runsItsTable) {
    const GuardedRow& row = GetParam();
    std::string trace = {};
    static constexpr StepRoute kRoutes[] = {
        {10, {40}, 30},
        {20, {kNextStep}, kNextStep},
        {30, {kNextStep}, kEndProcedure},
        {40, {kEndProcedure}, kEndProcedure},
    };
    const GuardedStep steps[] = {
        {10,
         [&] {
             trace += "10 ";
             if (row.fail10)
                 throw PlatformError(u"first");
             return row.jump10;
         }},
        {row.stepLine,
         [&] {
             trace += "20 ";
             return kNextStep;
         }},
        {30,
         [&] {
             trace += "30 ";
             if (row.fail30)
                 throw std::runtime_error("second");
             return kNextStep;
         }},
        {40,
         [&] {
             trace += "40 ";
             return kEndProcedure;
         }},
    };
    RecordingBoxes boxes;
    if (row.boxFails)
        boxes.onShow = [](const ShownBox&) { throw PlatformError(u"no display"); };
    std::vector<std::pair<std::u16string, int>> observed;
    RunGuarded<kRoutes>(boxes, u"Proc", steps, [&](int line, std::u16string_view text) {
        observed.emplace_back(text, line);
        if (row.observerFails)
            throw std::runtime_error("observer");
    });

    EXPECT_EQ(trace, row.trace);
    EXPECT_EQ(observed, row.reports);
    ASSERT_EQ(boxes.shown.size(), row.reports.size());
    for (std::size_t i = 0; i < row.reports.size(); ++i)
        EXPECT_EQ(
            boxes.shown[i].prompt,
            errorReportText(row.reports[i].first, procedureTag(u"Proc"), row.reports[i].second));
}

INSTANTIATE_TEST_SUITE_P(Rows, GuardedTest, testing::ValuesIn(guardedRows),
                         [](const auto& info) { return info.param.name; });
