#include "plugin/KofCopyReport.h"

#include <gtest/gtest.h>

namespace kof {
namespace {

TEST(CopyReport, ADetailNamesItsItemOrElseItsFolder) {
  struct Case {
    TCopyDetail Detail;
    std::string Lines;
  };
  const Case cases[] = {
      {{"\\Demo\\Servers", "notes.txt", "Record not found", "404", dopReadRec}, "notes.txt\r\n\t[READ] Record not found\r\n"},
      {{"\\Demo\\Servers", "", "Safe box exists", "x", dopCreateBox}, "\\Demo\\Servers\\\r\n\t[CREATE] Safe box exists\r\n"},
      {{"\\Demo\\", "", "Refused", "x", dopRemoveBox}, "\\Demo\\\r\n\t[REMOVE] Refused\r\n"},
      {{"\\Demo", "a", "m", "k", dopMoveDelRec}, "a\r\n\t[MOVE DEL] m\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Detail.PrintLines(), c.Lines);
}

TEST(CopyReport, GroupingShowsEachRunOfOneErrorKeyOnce) {
  TCopyDetails details;
  details.Add({"\\D", "a.txt", "Too big", "413", dopSaveRec});
  details.Add({"\\D", "b.txt", "Too big", "413", dopSaveRec});
  details.Add({"\\D", "c.txt", "Gone", "404", dopSaveRec});
  details.Add({"\\D", "d.txt", "Too big", "413", dopSaveRec});
  EXPECT_EQ(details.GetDetailText(true),
            "[WRITE] Too big\r\n\ta.txt\r\n\tb.txt\r\n"
            "\r\n[WRITE] Gone\r\n\tc.txt\r\n"
            "\r\n[WRITE] Too big\r\n\td.txt\r\n");
  EXPECT_EQ(details.GetDetailText(false),
            "a.txt\r\n\t[WRITE] Too big\r\n\r\nb.txt\r\n\t[WRITE] Too big\r\n\r\n"
            "c.txt\r\n\t[WRITE] Gone\r\n\r\nd.txt\r\n\t[WRITE] Too big\r\n\r\n");
}

TEST(CopyReport, TheFormSaysWhichCountIsDone) {
  TKofOperationLog log;
  log.Counts = {3, 2, 5, 4, 1};
  struct Case {
    TReportForm Form;
    std::string Text;
  };
  const Case cases[] = {
      {TReportForm::CopyOut, "Copied Files/Records:  4\r\nFile/Record Errors:  1\r\n"},
      {TReportForm::Copy,
       "Created Safe Boxes:  2\r\nSafe Box Errors:  1\r\n\r\nCopied Files/Records:  4\r\nFile/Record Errors:  1\r\n"},
      {TReportForm::Move,
       "Created Safe Boxes:  2\r\nSafe Box Errors:  1\r\n\r\nMovied Files/Records:  1\r\nFile/Record Errors:  4\r\n"},
      {TReportForm::Rename,
       "Created Safe Boxes:  2\r\nSafe Box Errors:  1\r\n\r\nRenamed Files/Records:  1\r\nFile/Record Errors:  4\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(log.Report(c.Form, false).Text, c.Text);
  log.AddDetail(dopReadRec, "\\D", "a", "Lost", "1");
  EXPECT_EQ(log.Report(TReportForm::CopyOut, false).Text,
            "Copied Files/Records:  4\r\nFile/Record Errors:  1\r\n\r\nDetails:\r\na\r\n\t[READ] Lost\r\n\r\n");
  // A copy out that went to a temporary folder was a view: nothing to report.
  log.LastCopyInter = true;
  EXPECT_EQ(log.Report(TReportForm::CopyOut, false).Text, "");
}

TEST(CopyReport, ErrorsAreCountedAgainstWhatTheOperationCompletes) {
  TKofOperationLog log;
  EXPECT_FALSE(log.HasErrors(false));
  log.Counts = {0, 0, 2, 2, 0};
  EXPECT_FALSE(log.HasErrors(false));
  // A move is done only once its source is deleted.
  EXPECT_TRUE(log.HasErrors(true));
  log.Counts = {1, 0, 0, 0, 0};
  EXPECT_TRUE(log.HasErrors(false));
}

}  // namespace
}  // namespace kof
