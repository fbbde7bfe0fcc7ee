#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/brimsel/export.hpp"

namespace tarnwick::brimsel {

// The workbook libraries are linked into this build, so reading a confirmed dry-run report back
// and writing reports are always available.
inline constexpr bool k_spreadsheet_available = true;

// Where a declared variable lives. The parser gives only LOCAL, MODULE_PRIVATE and GLOBAL; the
// class scopes exist for the prefix table.
enum class VariableScope
{
  LOCAL,
  MODULE_PRIVATE,
  GLOBAL,
  CLASS_PRIVATE,
  CLASS_PUBLIC,
  CLASS_EXTERNAL,
};

// Declared data type of a variable.
enum class VariableType
{
  INTEGER,
  LONG,
  SINGLE,
  DOUBLE,
  STRING,
  BOOLEAN,
  VARIANT,
  SITELONG,
  SITEDOUBLE,
  SITEBOOLEAN,
  DSPWAVE,
  ENUM,
  TYPE,
  PINDATA,
  PINLISTDATA,
  CSL,
  USERCLASS,
  PINLIST,
  PATTERN,
};

// Kind of a Function or Sub, taken from the end of its name.
enum class FunctionType
{
  VBT,
  DSP,
  IP,
  OTHER,
};

// Text values used in messages and report cells: "local", "module_private", "global",
// "class_private", "class_public", "class_external".
TARNWICK_BRIMSEL_EXPORT std::string_view to_string(VariableScope scope);
// "Integer", "Long", ..., "DspWave", "Enum", "Type", "PinData", "PinListData", "CSL",
// "UserClass", "PinList", "Pattern".
TARNWICK_BRIMSEL_EXPORT std::string_view to_string(VariableType type);
// "VBT", "DSP", "IP", "OTHER".
TARNWICK_BRIMSEL_EXPORT std::string_view to_string(FunctionType type);

// One declared variable or constant (one name of a declaration line). The parser fills
// `correct_name` and `issue_description` only when the naming rules report an issue.
struct VariableInfo
{
  std::string name{};          // the declared name as written
  std::string original_name{}; // the same text as `name`
  VariableScope scope = VariableScope::LOCAL;
  VariableType var_type = VariableType::VARIANT;
  bool is_array = false;
  std::string file_path{}; // path of the source file as the directory walk built it
  int line_number = 0;     // line of the declaration, counted from 1
  std::optional<std::string> function_name{}; // enclosing procedure of a local variable
  bool is_const = false;
  std::optional<std::string> correct_name{};      // suggested name
  std::optional<std::string> issue_description{}; // why the name breaks the rules

  bool operator==(const VariableInfo&) const = default;
};

// One parameter of a procedure header: name, type text as written ("Variant" when none is
// read) and passing keyword as written ("ByVal", "byref", ...) or "" when none is written.
struct FunctionParameter
{
  std::string name{};
  std::string type{};
  std::string byval_byref{};

  bool operator==(const FunctionParameter&) const = default;
};

// One Function or Sub.
struct FunctionInfo
{
  std::string name{};          // from the header, as written
  std::string original_name{}; // the same text as `name`
  FunctionType func_type = FunctionType::OTHER;
  std::string file_path{};
  int start_line = 0; // header line, counted from 1
  int end_line = 0;   // last line of the procedure; 0 until the line walk closes it
  std::vector<FunctionParameter> parameters{}; // in header order
  std::vector<std::string> issues{};           // texts of the parameter check

  bool operator==(const FunctionInfo&) const = default;
};

// One Type block or Enum block.
struct TypeInfo
{
  std::string name{};          // from the header, as written
  std::string original_name{}; // the same text as `name`
  std::string info_type{};     // "Type" or "Enum"
  std::string file_path{};
  int line_number = 0;          // header line, counted from 1
  std::string scope = "public"; // "public" or "private"
  std::optional<std::string> correct_name{};
  std::optional<std::string> issue_description{};
  int reference_count = 0;                  // number of source lines that name the block
  std::set<std::string> referenced_files{}; // paths of the files that hold such lines

  bool operator==(const TypeInfo&) const = default;
};

// An immutable text that copies share: every reference of a file holds the one path text of
// that file, every reference of a line the one text of that line. Reads as a const
// std::string; compares by content with itself, std::string, string views and literals.
class SharedText
{
public:
  SharedText() = default;
  SharedText(const char* text) : SharedText(std::string(text)) {}
  SharedText(std::string_view text) : SharedText(std::string(text)) {}
  SharedText(std::string text)
      : m_text(text.empty() ? nullptr : std::make_shared<const std::string>(std::move(text)))
  {}

  const std::string& str() const { return m_text ? *m_text : no_text(); }
  operator const std::string&() const { return str(); }
  const char* c_str() const { return str().c_str(); }
  std::size_t size() const { return str().size(); }
  bool empty() const { return str().empty(); }

  // Whether both share one text (equal content is then certain).
  bool same_text(const SharedText& other) const { return m_text == other.m_text; }

  friend bool operator==(const SharedText& a, const SharedText& b)
  {
    return a.m_text == b.m_text || a.str() == b.str();
  }
  friend bool operator==(const SharedText& a, std::string_view b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const char* b) { return a.str() == b; }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& text)
  {
    return out << text.str();
  }

private:
  static const std::string& no_text()
  {
    static const std::string k_empty;
    return k_empty;
  }
  std::shared_ptr<const std::string> m_text;
};

// One occurrence of a declared variable name in a source line. The file path and the line's
// text are shared by the references of one file and of one line.
struct VariableReference
{
  std::string var_name{}; // the word as found
  SharedText file_path{};
  int line_number = 0;                        // counted from 1
  std::optional<std::string> function_name{}; // enclosing procedure, absent outside one
  SharedText context{};                       // the line without leading and trailing white space

  bool operator==(const VariableReference&) const = default;
};

} // namespace tarnwick::brimsel
