#include "plugin/KofCopyReport.h"

#include <utility>

#include "client/KofClients.h"
#include "platform/KofFileIO.h"

namespace kof {
namespace {

constexpr const char* kInternalErrorKey = "9999_INT_ERR";

std::string Count(const char* label, int value) { return std::string(label) + ":  " + std::to_string(value) + "\r\n"; }

}  // namespace

std::string_view TCopyDetail::OperationStr() const {
  switch (FOperation) {
    case dopReadRec: return "[READ] ";
    case dopSaveRec: return "[WRITE] ";
    case dopUpdateRec: return "[UPDATE] ";
    case dopMoveDelRec: return "[MOVE DEL] ";
    case dopDeleteRec: return "[DELETE] ";
    case dopCreateBox: return "[CREATE] ";
    case dopRemoveBox: return "[REMOVE] ";
  }
  return "";
}

std::string TCopyDetail::GetPrintLine(bool objectLine) const {
  if (!objectLine) return std::string(OperationStr()) + FErrorMsg;
  if (!FName.empty()) return FName;
  if (!FPanelDir.empty() && FPanelDir.back() == '\\') return FPanelDir;
  return FPanelDir + "\\";
}

std::string TCopyDetail::PrintLines() const {
  return GetPrintLine(true) + "\r\n\t" + GetPrintLine(false) + "\r\n";
}

std::string TCopyDetails::GetText() const {
  std::string text;
  for (const TCopyDetail& detail : FItems) text += detail.PrintLines() + "\r\n";
  return text;
}

std::string TCopyDetails::GetDetailText(bool grouping) const {
  if (!grouping) return GetText();
  std::string text;
  for (std::size_t i = 0; i < FItems.size(); ++i) {
    if (i == 0 || FItems[i].FErrorKey != FItems[i - 1].FErrorKey) {
      if (i > 0) text += "\r\n";
      text += FItems[i].GetPrintLine(false) + "\r\n";
    }
    text += "\t" + FItems[i].GetPrintLine(true) + "\r\n";
  }
  return text;
}

void TKofOperationLog::AddDetail(TDetailOperations operation, std::string dir, std::string name,
                                 std::string errorMsg, std::string errorKey) {
  Details.Add({std::move(dir), std::move(name), std::move(errorMsg), std::move(errorKey), operation});
}

void TKofOperationLog::AddDetail(TDetailOperations operation, std::string dir, std::string name,
                                 const TKofClient* client, std::string message, int systemError) {
  if (!client) return AddDetail(operation, std::move(dir), std::move(name), "Internal error", kInternalErrorKey);
  if (client->ErrorCode() != 200 && !client->ErrorMsg().empty())
    return AddDetail(operation, std::move(dir), std::move(name), client->ErrorMsg(), client->ErrorKey());
  if (message.empty()) message = SystemErrorText(systemError);
  AddDetail(operation, std::move(dir), std::move(name), std::move(message), std::to_string(systemError));
}

void TKofOperationLog::ClearCounters() { Counts = {}; }

bool TKofOperationLog::HasErrors(bool byDeletion) const {
  if (Counts.AllCreatedBoxes - Counts.OKCreatedBoxes > 0) return true;
  const int done = byDeletion ? Counts.OKDeletedRecords : Counts.OKCopiedRecords;
  return Counts.AllCopiedRecords - done > 0;
}

TCopyReport TKofOperationLog::Report(TReportForm form, bool grouping) const {
  TCopyReport report{form, Counts, &Details, grouping, {}};
  if (form == TReportForm::CopyOut) {
    if (LastCopyInter) return report;
    report.Text = Count("Copied Files/Records", Counts.OKCopiedRecords) +
                  Count("File/Record Errors", Counts.AllCopiedRecords - Counts.OKCopiedRecords);
  } else {
    const bool byDeletion = form == TReportForm::Move || form == TReportForm::Rename;
    const int done = byDeletion ? Counts.OKDeletedRecords : Counts.OKCopiedRecords;
    const char* label = form == TReportForm::Rename ? "Renamed Files/Records"
                        : form == TReportForm::Move ? "Movied Files/Records"
                                                    : "Copied Files/Records";
    report.Text = Count("Created Safe Boxes", Counts.OKCreatedBoxes) +
                  Count("Safe Box Errors", Counts.AllCreatedBoxes - Counts.OKCreatedBoxes) + "\r\n" +
                  Count(label, done) + Count("File/Record Errors", Counts.AllCopiedRecords - done);
  }
  if (!Details.Empty()) report.Text += "\r\nDetails:\r\n" + Details.GetDetailText(grouping);
  return report;
}

}  // namespace kof
