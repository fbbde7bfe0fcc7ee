// The module model on one module of any kind, as the renames read it: its header (VERSION line,
// designer block, Attribute lines), which the VBA parser never reads, its procedures and the
// role of every word. The first byte of the input picks the kind ('c' a class, 'f' a form,
// anything else a standard module); the rest is the module. Up to eight words of its code are
// then declared Public in a standard module beside it and renamed; the module keeps its line count
// and its header, and a changed line differs only where a renamed word stood.
#include "tarnwick/brimsel/module_model.hpp"

#include <algorithm>
#include <set>

#include "tarnwick/brimsel/rename_scope.hpp"

#include "fuzz/support.hpp"
#include "fuzz/vba.hpp"

namespace {

bool is_name_char(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The first `cap` distinct identifiers (a letter, then letters, digits and "_") of `lines` from
// line `from` on.
std::vector<std::string> identifiers(const tarnwick::brimsel::SourceLines& lines, std::size_t from,
                                     std::size_t cap)
{
  std::vector<std::string> found;
  std::set<std::string> seen;
  for (std::size_t l = from; l < lines.size(); ++l) {
    const std::string& line = lines[l];
    for (std::size_t i = 0; i < line.size() && found.size() < cap;) {
      if (!is_name_char(line[i])) {
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < line.size() && is_name_char(line[end])) {
        ++end;
      }
      const std::string word = line.substr(i, end - i);
      const bool letter = (word[0] >= 'A' && word[0] <= 'Z') || (word[0] >= 'a' && word[0] <= 'z');
      if (letter && word.size() < 64 && seen.insert(tarnwick::brimsel::lowered(word)).second) {
        found.push_back(word);
      }
      i = end;
    }
  }
  return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  if (size == 0) {
    return 0;
  }
  const char* path = data[0] == 'c'   ? "VBT/Module1.cls"
                     : data[0] == 'f' ? "VBT/Module1.frm"
                                      : "VBT/Module1.bas";
  const std::string module_path = path;
  const brimsel::SourceLines lines = fuzz::module_lines(fuzz::as_text(data + 1, size - 1));

  // The scan alone: every extent and word within the module.
  brimsel::NameSet interesting;
  for (const std::string& word : identifiers(lines, 0, 8)) {
    interesting.insert(brimsel::lowered(word));
  }
  brimsel::FileScan scan;
  scan.path = &module_path;
  scan.lines = &lines;
  fuzz::run_guarded([&] { brimsel::scan_module(scan, interesting); });
  fuzz::check(scan.code_start <= lines.size(), "the header ends past the module");
  fuzz::check(scan.procedure_of_line.size() == lines.size(), "a line without its procedure");
  for (std::size_t p = 0; p < scan.procedures.size(); ++p) {
    const brimsel::Extent& extent = scan.procedures[p];
    fuzz::check(extent.first <= extent.last && extent.last < lines.size(),
                "a procedure outside the module");
    fuzz::check(p == 0 || scan.procedures[p - 1].last < extent.first, "procedures overlap");
  }
  for (const brimsel::Token& token : scan.tokens) {
    fuzz::check(token.line < lines.size()
                    && token.offset + token.length <= lines[token.line].size(),
                "a word outside its line");
    fuzz::check(interesting.contains(brimsel::lowered(scan.text(token))), "a word of no interest");
  }

  // The renames: words of its code, each declared Public beside the module and renamed.
  const std::vector<std::string> words = identifiers(lines, scan.code_start, 8);
  brimsel::VBAParser parser;
  std::string globals;
  std::vector<brimsel::ScopedRename> renames;
  for (std::size_t i = 0; i < words.size(); ++i) {
    globals += "Public " + words[i] + " As Long\n";
    renames.push_back({"global_variable", "VBT/Globals.bas", static_cast<std::int64_t>(i + 1),
                       words[i], "g_" + words[i] + "_lng"});
  }
  if (!fuzz::parse_module(parser, "VBT/Globals.bas", globals)) {
    return 0;
  }
  brimsel::ClassAndFormModules others;
  if (brimsel::module_kind_of(module_path) == brimsel::ModuleKind::standard) {
    parser.files.insert_or_assign(module_path, lines);
  } else {
    others.files.insert_or_assign(module_path, lines);
  }
  fuzz::run_guarded([&] {
    const brimsel::ScopedRewrite rewrite = brimsel::rename_in_scope(parser, renames, {}, others);
    for (const brimsel::ScopedFile& file : rewrite.files) {
      if (file.path != module_path) {
        continue;
      }
      const brimsel::SourceLines renamed = file.lines();
      fuzz::check(renamed.size() == lines.size(), "a rename changed the number of lines");
      for (const auto& [index, text] : file.changed) {
        fuzz::check(index >= scan.code_start, "a rename changed the header");
        fuzz::check(text.size() >= lines[index].size(), "a rename shortened a line");
      }
    }
  });
  return 0;
}
