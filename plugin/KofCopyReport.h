#pragma once
// What a copy, move or rename counted and what went wrong on the way, and the
// text of the report the user sees at its end.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kof {

class TKofClient;

enum TDetailOperations { dopReadRec, dopSaveRec, dopUpdateRec, dopMoveDelRec, dopDeleteRec, dopCreateBox, dopRemoveBox };

// One item that failed.
struct TCopyDetail {
  std::string FPanelDir;
  std::string FName;
  std::string FErrorMsg;
  std::string FErrorKey;
  TDetailOperations FOperation = dopReadRec;

  std::string_view OperationStr() const;
  // The object line (the name, or the folder with a trailing delimiter) or the error line.
  std::string GetPrintLine(bool objectLine) const;
  std::string PrintLines() const;
};

class TCopyDetails {
 public:
  void Add(TCopyDetail detail) { FItems.push_back(std::move(detail)); }
  void Clear() { FItems.clear(); }
  bool Empty() const { return FItems.empty(); }
  std::size_t Count() const { return FItems.size(); }
  const TCopyDetail& operator[](std::size_t index) const { return FItems.at(index); }

  std::string GetText() const;
  // With grouping, a run of details with the same error key shows its error once.
  std::string GetDetailText(bool grouping) const;

 private:
  std::vector<TCopyDetail> FItems;
};

struct TKofOperationCounts {
  int AllCreatedBoxes = 0;
  int OKCreatedBoxes = 0;
  int AllCopiedRecords = 0;
  int OKCopiedRecords = 0;
  int OKDeletedRecords = 0;
};

// Which of the report's forms ends an operation.
enum class TReportForm { CopyOut, Copy, Move, Rename };

// What the user is shown at the end of an operation that had errors.
struct TCopyReport {
  TReportForm Form = TReportForm::Copy;
  TKofOperationCounts Counts;
  const TCopyDetails* Details = nullptr;
  bool Grouping = false;  // the details are grouped by error
  // The whole report as text, for a host that shows only messages.
  std::string Text;
};

// The counts and details of the operation the host bracketed last. The
// plugin object keeps one: a move between two sessions counts in both.
class TKofOperationLog {
 public:
  TKofOperationCounts Counts;
  TCopyDetails Details;
  // A transfer or a rename/move runs: only then are details kept.
  bool TransOp = false;
  bool RenMovOp = false;
  // The last copy out went to a temporary folder (a view), which ends without a report.
  bool LastCopyInter = false;

  bool AddingDetailsAllowed() const { return TransOp || RenMovOp; }
  void AddDetail(TDetailOperations operation, std::string dir, std::string name, std::string errorMsg,
                 std::string errorKey);
  // The error of the client's last request, else MESSAGE with SYSTEMERROR as key, else the system's text for it.
  void AddDetail(TDetailOperations operation, std::string dir, std::string name, const TKofClient* client,
                 std::string message, int systemError = 0);
  void ClearCounters();
  // Whether the operation has failures to report; BYDELETION (a move or rename)
  // counts what was deleted at the source as done.
  bool HasErrors(bool byDeletion) const;
  // Nothing (an empty text) when there is nothing to report.
  TCopyReport Report(TReportForm form, bool grouping) const;
};

}  // namespace kof
