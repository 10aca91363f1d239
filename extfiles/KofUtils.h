#pragma once
// Path mapping of external files and small shared utilities.
//
// The server names a stored file as its administrator sees it, usually a
// share path with backslashes (\\storage\vault\box12\a.bin). Lines of
// "Koffra.subst.cfg" map such prefixes to where this machine reaches the
// storage:
//
//   # comment            ; comment
//   subst \\storage\vault /mnt/vault
//   subst "\\storage\vault box" "${HOME}/vault box"
//
// Two files are read, the later one overriding a pattern of the earlier: the
// one in the plugin's folder, then the one in the user's configuration folder
// ($KOFFRA_CONFIG_HOME, else ${XDG_CONFIG_HOME:-~/.config}/koffra).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kof {

inline constexpr char kSubstitutionFileName[] = "Koffra.subst.cfg";

class TExtSubstitution {
 public:
  TExtSubstitution(std::string_view AKofPattern, std::string_view AReplacement, std::string_view AEvaluated);

  const std::string& KofPattern() const { return FKofPattern; }
  const std::string& Replacement() const { return FReplacement; }
  const std::string& Expanded() const { return FExpanded; }
  std::string InfoStr() const;

  // The bytes of S that the pattern matches at its start (ignoring case, "\"
  // and "/" alike), or npos.
  std::size_t MatchLength(std::string_view S) const;
  // S with the matched prefix replaced by the expanded replacement; S unchanged without a match.
  std::string Replace(std::string_view S) const;

 private:
  std::string FKofPattern;
  std::string FReplacement;
  std::string FExpanded;
};

// The rules in the order of their patterns (ignoring case), one per pattern:
// adding a pattern that is there already replaces that rule.
class TExtSubstitutions {
 public:
  void Clear() { FItems.clear(); }
  void Add(std::unique_ptr<TExtSubstitution> AItem);
  std::size_t Count() const { return FItems.size(); }
  const TExtSubstitution& operator[](std::size_t AIndex) const { return *FItems[AIndex]; }
  const TExtSubstitution* Find(std::string_view AKofPattern) const;
  // Replace of the first rule, in the list's order, whose pattern begins APATH.
  std::string Map(std::string_view APath) const;

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<std::unique_ptr<TExtSubstitution>> FItems;
};

struct TSubstitutionLine {
  std::string Pattern;
  std::string Replacement;
};
// The rule of one line; nothing for comments, other lines and empty parts.
std::optional<TSubstitutionLine> ParseSubstitutionLine(std::string_view ALine);
// Adds the rules of a file's text (UTF-8, an optional byte-order mark).
void AddSubstitutionsFromText(TExtSubstitutions& AList, std::string_view AText);
// The two files, in the order they are read.
std::vector<std::string> SubstitutionFiles();
// Empties the list and reads both files; a missing or unreadable file adds nothing.
void LoadSubstitutions(TExtSubstitutions& AList);
// The same with the files given, in order.
void LoadSubstitutionFiles(TExtSubstitutions& AList, const std::vector<std::string>& AFiles);

// %NAME%, $NAME and ${NAME} replaced by the variable's value (a variable that
// is not set stays as written); a leading "~" is the home folder. Where the
// Windows names have no variable here (USERNAME, USERPROFILE, APPDATA,
// LOCALAPPDATA), their local counterparts answer.
std::string ExpandEnvironmentVariables(std::string_view AText);

// Where a stored path is reached on this machine: mapped by the rules, with
// the server's "\" turned into "/". Empty when it cannot be reached here: no
// rule maps a share or drive path to a local one, or a ".." step could lead
// outside the storage.
std::string LocalStoredPath(const TExtSubstitutions& ARules, std::string_view AStoredPath);
// A path this machine reaches, in the form LocalStoredPath gives: absolute and
// local ("/..."), and on Windows a drive ("X:/...") or share ("//server/..."),
// with "/" or "\" between folders.
bool IsLocalStoredPath(std::string_view APath);

// ------------------------------------------------------------ other utilities

// The local time as "yyyy-mm-dd hh:nn:ss".
std::string CurrentTimeText();
// The version of a module as 1, 2 or 3 numbers joined by "."; AMODULEFILENAME
// empty or the plugin's own file gives the plugin's version, any other module
// (which carries no version here) an empty text.
std::string FileVersionText(const std::string& AModuleFileName, int AParts);
// When the plugin was built: "yyyy-mm-dd", with the time "yyyy-mm-dd hh:nn:ss" (UTC).
std::string BuildDateText(bool AWithTime);
// The temporary folder without its trailing "/".
std::string TempFolderNoDelimiter();

}  // namespace kof
