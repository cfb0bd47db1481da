#pragma once
// Language files: lines of "component name=text" that give the window's components the texts of
// one interface language. TMp3Languages is both the reader (the session keeps one) and one parsed
// line. Applying the entries to a window is ui/languageapply.h.
//
// Threading: main thread only.
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

class TMp3Languages;
using TMp3LanguageEntries = std::vector<TMp3Languages>;

// A language file that could not be read; what() is "Cannot open file "<path>". <reason>" in UTF-8.
class TLanguageFileError : public std::runtime_error {
 public:
  TLanguageFileError(const QString& path, int error);
  const QString& path() const { return FPath; }

 private:
  QString FPath;
};

class TMp3Languages {
 public:
  // The reader: no names, an empty list of lines.
  TMp3Languages();
  // One entry.
  TMp3Languages(QString ComponentName, QString ReplaceName);

  const QString& ComponentName() const { return FComponentName; }
  void SetComponentName(const QString& v) { FComponentName = v; }
  const QString& ReplaceName() const { return FReplaceName; }
  void SetReplaceName(const QString& v) { FReplaceName = v; }
  const QString& ReadName() const { return FReadName; }
  void SetReadName(const QString& v) { FReadName = v; }
  const std::shared_ptr<TMp3LanguageEntries>& ComponentsNames() const { return FComponentsNames; }
  void SetComponentsNames(std::shared_ptr<TMp3LanguageEntries> v) {
    FComponentsNames = std::move(v);
  }
  // The lines of the last file read; absent in an entry.
  const std::optional<QStringList>& ResultFile() const { return FResultFile; }

  // Everything before the first "=" names the component, everything after it is the text; a
  // line without "=" has an empty name and the whole line as text. Nothing is trimmed.
  static TMp3Languages DivideReadString(const QString& ReadName);

  // The entries of the language file, in file order; none (nullopt) for an empty name or a file
  // without lines. Raises TLanguageFileError when the file cannot be read.
  std::optional<TMp3LanguageEntries> GetComponentsNames(const QString& LngFile);
  // The same over a file's bytes, as they were read.
  std::optional<TMp3LanguageEntries> GetComponentsNamesFromBytes(std::string_view bytes);

  // Where a language file is looked for: the folders given here in order, or by default the
  // current directory, then the program's folder, then the installed data folder.
  void SetSearchFolders(std::optional<QStringList> folders) { FSearchFolders = std::move(folders); }
  static QStringList DefaultSearchFolders();
  // The path of the first folder's file of this name that exists, or the path in the first folder
  // when there is none (the name that a failure to open reports).
  QString FindLanguageFile(const QString& LngFile) const;

 private:
  QString FComponentName;
  QString FReplaceName;
  QString FReadName;
  std::shared_ptr<TMp3LanguageEntries> FComponentsNames;  // kept as a property; never filled
  std::optional<QStringList> FResultFile;
  std::optional<QStringList> FSearchFolders;
};
