#include "tarnwick/xlsx/reader.hpp"

#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>
#include <tuple>

#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::xlsx {

namespace {

constexpr std::size_t k_max_rows = 1048576;
constexpr std::size_t k_max_columns = 16384;

// XML options: keep a text element that holds only white space (<t xml:space="preserve"> </t>).
constexpr unsigned k_xml_options = pugi::parse_default | pugi::parse_ws_pcdata_single;

// ---------------------------------------------------------------------------------------------
// XML helpers: elements are matched by local name, whatever prefix a writer gives them.

std::string_view local_name(const char* name)
{
  std::string_view view(name);
  if (const auto colon = view.rfind(':'); colon != std::string_view::npos) {
    view.remove_prefix(colon + 1);
  }
  return view;
}

bool is(const pugi::xml_node& node, std::string_view name)
{
  return node.type() == pugi::node_element && local_name(node.name()) == name;
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name)
{
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (is(c, name)) {
      return c;
    }
  }
  return {};
}

pugi::xml_node root_element(const pugi::xml_document& doc)
{
  for (pugi::xml_node c = doc.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) {
      return c;
    }
  }
  return {};
}

// Attribute by local name, ignoring any prefix.
pugi::xml_attribute attribute(const pugi::xml_node& node, std::string_view name)
{
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    if (local_name(a.name()) == name) {
      return a;
    }
  }
  return {};
}

// Character data of an element (text and CDATA children).
std::string element_text(const pugi::xml_node& node)
{
  std::string out;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
      out += c.value();
    }
  }
  return out;
}

int hex_digit(char c)
{
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The code unit of an "_xHHHH_" escape at `pos`, or nothing.
std::optional<char32_t> escape_at(std::string_view text, std::size_t pos)
{
  if (pos + 7 > text.size() || text[pos] != '_' || text[pos + 1] != 'x' || text[pos + 6] != '_') {
    return std::nullopt;
  }
  char32_t value = 0;
  for (std::size_t i = pos + 2; i < pos + 6; ++i) {
    const int digit = hex_digit(text[i]);
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * 16 + static_cast<char32_t>(digit);
  }
  return value;
}

// Decodes the "_xHHHH_" escapes spreadsheet writers use for characters XML cannot carry
// ("_x000D_" is a carriage return, "_x005F_" a literal underscore). UTF-16 surrogate pairs
// combine; a lone surrogate becomes U+FFFD.
std::string decode_escapes(std::string_view text)
{
  if (text.find("_x") == std::string_view::npos) {
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto unit = escape_at(text, pos);
    if (!unit) {
      out += text[pos++];
      continue;
    }
    pos += 7;
    char32_t cp = *unit;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      const auto low = escape_at(text, pos);
      if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
        pos += 7;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    text::append_utf8(out, cp);
  }
  return out;
}

// Text of a string item (<si> or <is>): a plain <t>, or rich-text runs <r><t> concatenated;
// phonetic runs <rPh> are reading aids and are left out.
std::string string_item_text(const pugi::xml_node& item)
{
  std::string raw;
  for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
    if (is(c, "t")) {
      raw += element_text(c);
    } else if (is(c, "r")) {
      for (pugi::xml_node t = c.first_child(); t; t = t.next_sibling()) {
        if (is(t, "t")) {
          raw += element_text(t);
        }
      }
    }
  }
  return decode_escapes(raw);
}

// Locale-independent number parse of a stored value ("1.5", "-2E-3", "+7", " 42 ").
std::optional<double> parse_number(std::string_view text)
{
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::size_t> parse_index(std::string_view text)
{
  std::size_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// ---------------------------------------------------------------------------------------------
// Part names and relationships

// "%20" and the like in a relationship target.
std::string percent_decode(std::string_view text)
{
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0
        && hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Folder of a part name ("xl/workbook.xml" -> "xl/"; "workbook.xml" -> "").
std::string folder_of(std::string_view part)
{
  const auto slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// The part a relationship target names: absolute ("/xl/sheet.xml") or relative to the
// folder of the part that holds the relationship; "." and ".." segments resolved.
std::string resolve_target(std::string_view source_folder, std::string_view target)
{
  std::string decoded = percent_decode(target);
  std::replace(decoded.begin(), decoded.end(), '\\', '/');
  std::string joined = !decoded.empty() && decoded.front() == '/'
                         ? decoded.substr(1)
                         : std::string(source_folder) + decoded;
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    auto end = joined.find('/', start);
    if (end == std::string::npos) {
      end = joined.size();
    }
    const std::string segment = joined.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) {
        segments.pop_back();
      }
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& segment : segments) {
    if (!out.empty()) {
      out += '/';
    }
    out += segment;
  }
  return out;
}

// Relationships part of a part ("xl/workbook.xml" -> "xl/_rels/workbook.xml.rels").
std::string rels_part_of(std::string_view part)
{
  const auto slash = part.rfind('/');
  if (slash == std::string_view::npos) {
    return "_rels/" + std::string(part) + ".rels";
  }
  return std::string(part.substr(0, slash + 1)) + "_rels/" + std::string(part.substr(slash + 1))
         + ".rels";
}

bool type_is(std::string_view type, std::string_view kind)
{
  // Transitional and strict documents use different namespaces with the same last segment.
  return type.size() > kind.size() && type.ends_with(kind)
         && type[type.size() - kind.size() - 1] == '/';
}

struct Relationship
{
  std::string type;
  std::string target; // resolved part name; empty for external targets
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Cell references

std::pair<std::size_t, std::size_t> parse_cell_ref(std::string_view ref)
{
  const std::string original(ref);
  const auto fail = [&]() { return Error("'" + original + "' is not a cell reference"); };
  std::size_t pos = 0;
  if (pos < ref.size() && ref[pos] == '$') {
    ++pos;
  }
  std::size_t column = 0;
  std::size_t letters = 0;
  while (pos < ref.size() && ((ref[pos] >= 'A' && ref[pos] <= 'Z')
                              || (ref[pos] >= 'a' && ref[pos] <= 'z'))) {
    const char upper = static_cast<char>(ref[pos] & ~0x20);
    column = column * 26 + static_cast<std::size_t>(upper - 'A' + 1);
    if (++letters > 3) {
      throw fail();
    }
    ++pos;
  }
  if (pos < ref.size() && ref[pos] == '$') {
    ++pos;
  }
  const std::string_view digits = ref.substr(pos);
  if (letters == 0 || digits.empty() || digits.size() > 7 || digits.front() == '0') {
    throw fail();
  }
  const auto row = parse_index(digits);
  if (!row) {
    throw fail();
  }
  return {*row - 1, column - 1};
}

std::string_view to_string(CellKind kind)
{
  switch (kind) {
  case CellKind::empty:
    return "empty";
  case CellKind::text:
    return "text";
  case CellKind::number:
    return "number";
  case CellKind::boolean:
    return "boolean";
  case CellKind::error:
    return "error";
  }
  return "";
}

// ---------------------------------------------------------------------------------------------
// Sheet

const Cell& Sheet::cell(std::size_t row, std::size_t column) const
{
  static const Cell empty;
  const auto cells = row_cells(row);
  const auto it = std::lower_bound(cells.begin(), cells.end(), column,
                                   [](const auto& entry, std::size_t c) { return entry.first < c; });
  if (it == cells.end() || it->first != column) {
    return empty;
  }
  return it->second;
}

std::span<const std::pair<std::size_t, Cell>> Sheet::row_cells(std::size_t row) const
{
  const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row,
                                   [](const auto& entry, std::size_t r) { return entry.first < r; });
  if (it == m_rows.end() || it->first != row) {
    return {};
  }
  return it->second;
}

// ---------------------------------------------------------------------------------------------
// Reader

namespace {

struct PlacedCell
{
  std::size_t row;
  std::size_t column;
  std::size_t order; // position in the file: a later cell at the same place wins
  Cell cell;
};

} // namespace

struct Reader::Impl
{
  std::filesystem::path path;
  ReaderLimits limits;
  zip_t* archive = nullptr;
  std::uint64_t total_read = 0;
  std::string workbook_part;
  std::vector<std::string> names;
  std::vector<std::string> sheet_parts;
  std::optional<std::string> shared_strings_part;
  std::optional<std::vector<std::string>> shared_strings;

  ~Impl()
  {
    if (archive != nullptr) {
      zip_discard(archive);
    }
  }

  Error error(const std::string& reason) const
  {
    return Error("cannot read workbook '" + path.string() + "': " + reason);
  }

  // The uncompressed bytes of part `name`, or nothing when the archive has no such part.
  std::optional<std::string> read_part(const std::string& name)
  {
    const zip_int64_t index = zip_name_locate(archive, name.c_str(), ZIP_FL_NOCASE);
    if (index < 0) {
      return std::nullopt;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) {
      throw error("part '" + name + "': " + zip_strerror(archive));
    }
    const auto too_big = [&]() {
      return error("part '" + name + "' is larger than "
                   + std::to_string(limits.max_entry_size) + " bytes uncompressed");
    };
    const auto over_total = [&]() {
      return error("the parts read exceed " + std::to_string(limits.max_total_size)
                   + " bytes uncompressed");
    };
    // The stored size may lie; it only decides early refusals and the first reservation.
    if ((stat.valid & ZIP_STAT_SIZE) != 0) {
      if (stat.size > limits.max_entry_size) {
        throw too_big();
      }
      if (total_read + stat.size > limits.max_total_size) {
        throw over_total();
      }
    }
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
      throw error("part '" + name + "': " + zip_strerror(archive));
    }
    std::string data;
    if ((stat.valid & ZIP_STAT_SIZE) != 0) {
      data.reserve(static_cast<std::size_t>(stat.size));
    }
    char buffer[65536];
    for (;;) {
      const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
      if (got < 0) {
        const std::string reason = zip_error_strerror(zip_file_get_error(file));
        zip_fclose(file);
        throw error("part '" + name + "': " + reason);
      }
      if (got == 0) {
        break;
      }
      data.append(buffer, static_cast<std::size_t>(got));
      if (data.size() > limits.max_entry_size) {
        zip_fclose(file);
        throw too_big();
      }
      if (total_read + data.size() > limits.max_total_size) {
        zip_fclose(file);
        throw over_total();
      }
    }
    zip_fclose(file);
    total_read += data.size();
    return data;
  }

  // Parses part `name` into `doc`; `buffer` holds the bytes the document points into.
  bool load_part(const std::string& name, std::string& buffer, pugi::xml_document& doc)
  {
    auto data = read_part(name);
    if (!data) {
      return false;
    }
    buffer = std::move(*data);
    const pugi::xml_parse_result result =
      doc.load_buffer_inplace(buffer.data(), buffer.size(), k_xml_options);
    if (!result) {
      throw error("part '" + name + "' is not well-formed XML (" + result.description()
                  + " at offset " + std::to_string(result.offset) + ")");
    }
    return true;
  }

  // Relationships of `part` by id; empty when the part has none.
  std::vector<std::pair<std::string, Relationship>> relationships(const std::string& part)
  {
    std::vector<std::pair<std::string, Relationship>> out;
    std::string buffer;
    pugi::xml_document doc;
    if (!load_part(rels_part_of(part), buffer, doc)) {
      return out;
    }
    const std::string folder = folder_of(part);
    for (pugi::xml_node r = root_element(doc).first_child(); r; r = r.next_sibling()) {
      if (!is(r, "Relationship")) {
        continue;
      }
      Relationship rel;
      rel.type = attribute(r, "Type").value();
      if (std::string_view(attribute(r, "TargetMode").value()) != "External") {
        rel.target = resolve_target(folder, attribute(r, "Target").value());
      }
      out.emplace_back(attribute(r, "Id").value(), std::move(rel));
    }
    return out;
  }

  void open()
  {
    files::FileProblem problem;
    files::Fd file = files::open_regular_file(path, files::OpenFor::reading, problem);
    if (!file) {
      if (problem.missing()) {
        throw FileNotFoundError("No such file or directory: '" + path.string() + "'");
      }
      throw error(problem.reason);
    }
    int code = 0;
    archive = zip_fdopen(file.get(), ZIP_RDONLY, &code);
    if (archive != nullptr) {
      file.release(); // closed by the archive's own opening
    } else {
      zip_error_t zerror;
      zip_error_init_with_code(&zerror, code);
      std::string reason = zip_error_strerror(&zerror);
      zip_error_fini(&zerror);
      throw error("not a workbook (zip archive): " + reason);
    }
    find_workbook_part();
    read_sheet_list();
  }

  void find_workbook_part()
  {
    for (const auto& [id, rel] : relationships("")) {
      if (type_is(rel.type, "officeDocument") && !rel.target.empty()) {
        workbook_part = rel.target;
        return;
      }
    }
    // Some writers leave out the package relationships; the usual place then.
    workbook_part = "xl/workbook.xml";
  }

  void read_sheet_list()
  {
    std::string buffer;
    pugi::xml_document doc;
    if (!load_part(workbook_part, buffer, doc)) {
      throw error("no workbook part '" + workbook_part + "' (not a spreadsheet file?)");
    }
    const pugi::xml_node workbook = root_element(doc);
    if (!is(workbook, "workbook")) {
      throw error("part '" + workbook_part + "' holds no workbook");
    }
    const auto rels = relationships(workbook_part);
    const auto find_rel = [&](std::string_view id) -> const Relationship* {
      for (const auto& [rel_id, rel] : rels) {
        if (rel_id == id) {
          return &rel;
        }
      }
      return nullptr;
    };
    for (const auto& [id, rel] : rels) {
      if (type_is(rel.type, "sharedStrings") && !rel.target.empty()) {
        shared_strings_part = rel.target;
      }
    }
    for (pugi::xml_node sheet = child(child(workbook, "sheets"), "sheet"); sheet;
         sheet = sheet.next_sibling()) {
      if (!is(sheet, "sheet")) {
        continue;
      }
      const std::string name = decode_escapes(attribute(sheet, "name").value());
      const std::string id = relationship_id(sheet);
      const Relationship* rel = find_rel(id);
      if (rel == nullptr) {
        throw error("sheet '" + name + "' names the missing relationship '" + id + "'");
      }
      if (!type_is(rel->type, "worksheet")) {
        continue; // chart, dialog or macro sheet
      }
      names.push_back(name);
      sheet_parts.push_back(rel->target);
    }
  }

  // The relationship id of a <sheet>: the "id" attribute in the relationships namespace,
  // whatever its prefix.
  static std::string relationship_id(const pugi::xml_node& sheet)
  {
    for (pugi::xml_attribute a = sheet.first_attribute(); a; a = a.next_attribute()) {
      const std::string_view name = a.name();
      if (name.find(':') != std::string_view::npos && local_name(a.name()) == "id") {
        return a.value();
      }
    }
    return {};
  }

  const std::vector<std::string>& strings()
  {
    if (shared_strings) {
      return *shared_strings;
    }
    shared_strings.emplace();
    std::string buffer;
    pugi::xml_document doc;
    if (shared_strings_part && load_part(*shared_strings_part, buffer, doc)) {
      for (pugi::xml_node si = root_element(doc).first_child(); si; si = si.next_sibling()) {
        if (is(si, "si")) {
          shared_strings->push_back(string_item_text(si));
        }
      }
    }
    return *shared_strings;
  }

  Error sheet_error(const std::string& sheet, const std::string& reason) const
  {
    return error("sheet '" + sheet + "': " + reason);
  }

  Sheet read(std::size_t index);
  std::vector<PlacedCell> read_cells(const std::string& sheet, const pugi::xml_node& worksheet,
                                     const std::vector<std::string>& shared) const;
  Cell cell_content(const std::string& sheet, const pugi::xml_node& c,
                    const std::vector<std::string>& shared) const;
  static Sheet arrange(const std::string& name, std::vector<PlacedCell> placed);
};

// The cells of worksheet `index`: shared strings first, then the sheet's part.
Sheet Reader::Impl::read(std::size_t index)
{
  const std::string& name = names[index];
  const std::string& part = sheet_parts[index];
  const std::vector<std::string>& shared = strings();

  std::string buffer;
  pugi::xml_document doc;
  if (!load_part(part, buffer, doc)) {
    throw sheet_error(name, "its part '" + part + "' is missing");
  }
  return arrange(name, read_cells(name, root_element(doc), shared));
}

// Every cell of `worksheet` in file order at its place: a row or cell without its reference
// follows the one before it. The limits on rows, columns, cells and text hold as they are read.
std::vector<PlacedCell> Reader::Impl::read_cells(const std::string& sheet,
                                                 const pugi::xml_node& worksheet,
                                                 const std::vector<std::string>& shared) const
{
  std::vector<PlacedCell> placed;
  std::uint64_t text_bytes = 0;
  std::size_t next_row = 0;
  for (pugi::xml_node row = child(child(worksheet, "sheetData"), "row"); row;
       row = row.next_sibling()) {
    if (!is(row, "row")) {
      continue;
    }
    std::size_t row_index = next_row;
    if (const auto r = attribute(row, "r")) {
      const auto parsed = parse_index(r.value());
      if (!parsed || *parsed == 0 || *parsed > k_max_rows) {
        throw sheet_error(sheet, "bad row number '" + std::string(r.value()) + "'");
      }
      row_index = *parsed - 1;
    }
    next_row = row_index + 1;
    std::size_t next_column = 0;
    for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
      if (!is(c, "c")) {
        continue;
      }
      PlacedCell pc{row_index, next_column, placed.size(), {}};
      if (const auto r = attribute(c, "r")) {
        std::pair<std::size_t, std::size_t> at;
        try {
          at = parse_cell_ref(r.value());
        } catch (const Error& e) {
          throw sheet_error(sheet, e.what());
        }
        if (at.first >= k_max_rows || at.second >= k_max_columns) {
          throw sheet_error(sheet, "cell reference '" + std::string(r.value())
                                       + "' lies outside the sheet");
        }
        pc.row = at.first;
        pc.column = at.second;
      }
      if (pc.column >= k_max_columns) {
        throw sheet_error(sheet, "more than " + std::to_string(k_max_columns) + " cells in row "
                                     + std::to_string(row_index + 1));
      }
      next_column = pc.column + 1;
      if (placed.size() >= limits.max_cells) {
        throw sheet_error(sheet, "more than " + std::to_string(limits.max_cells) + " cells");
      }
      pc.cell = cell_content(sheet, c, shared);
      text_bytes += pc.cell.text.size() + pc.cell.formula.size();
      if (text_bytes > limits.max_sheet_text) {
        throw sheet_error(sheet, "the cell texts exceed " + std::to_string(limits.max_sheet_text)
                                     + " bytes");
      }
      placed.push_back(std::move(pc));
    }
  }
  return placed;
}

// The kind, value, text and formula of cell element `c`, by its type attribute.
Cell Reader::Impl::cell_content(const std::string& sheet, const pugi::xml_node& c,
                                const std::vector<std::string>& shared) const
{
  Cell cell;
  const std::string_view type = attribute(c, "t").value();
  const pugi::xml_node v = child(c, "v");
  const std::string value = v ? element_text(v) : std::string();
  if (const pugi::xml_node f = child(c, "f")) {
    cell.has_formula = true;
    cell.formula = element_text(f);
  }
  if (type == "s") {
    if (v) {
      const auto i = parse_index(value);
      if (!i || *i >= shared.size()) {
        throw sheet_error(sheet, "cell " + std::string(attribute(c, "r").value())
                                     + " names the missing shared string '" + value + "'");
      }
      cell.kind = CellKind::text;
      cell.text = shared[*i];
    }
  } else if (type == "inlineStr") {
    if (const pugi::xml_node is_node = child(c, "is")) {
      cell.kind = CellKind::text;
      cell.text = string_item_text(is_node);
    }
  } else if (type == "str" || type == "d") {
    if (v) {
      cell.kind = CellKind::text;
      cell.text = decode_escapes(value);
    }
  } else if (type == "b") {
    if (v) {
      cell.kind = CellKind::boolean;
      cell.boolean = value == "1" || value == "true" || value == "TRUE";
      cell.number = cell.boolean ? 1.0 : 0.0;
      cell.text = cell.boolean ? "TRUE" : "FALSE";
    }
  } else if (type == "e") {
    if (v) {
      cell.kind = CellKind::error;
      cell.text = value;
    }
  } else if (v && !value.empty()) {
    if (const auto number = parse_number(value)) {
      cell.kind = CellKind::number;
      cell.number = *number;
    } else {
      // A value no number parser takes is kept as it stands rather than lost.
      cell.kind = CellKind::text;
    }
    cell.text = value;
  }
  return cell;
}

// The sheet of `placed` in row and column order; of two cells at one place the later one.
Sheet Reader::Impl::arrange(const std::string& name, std::vector<PlacedCell> placed)
{
  std::sort(placed.begin(), placed.end(), [](const PlacedCell& a, const PlacedCell& b) {
    return std::tie(a.row, a.column, a.order) < std::tie(b.row, b.column, b.order);
  });
  Sheet sheet;
  sheet.m_name = name;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (i + 1 < placed.size() && placed[i + 1].row == placed[i].row
        && placed[i + 1].column == placed[i].column) {
      continue; // replaced by a later cell at the same place
    }
    PlacedCell& pc = placed[i];
    if (sheet.m_rows.empty() || sheet.m_rows.back().first != pc.row) {
      sheet.m_rows.emplace_back(pc.row, Sheet::RowCells{});
    }
    sheet.m_rows.back().second.emplace_back(pc.column, std::move(pc.cell));
    sheet.m_row_count = std::max(sheet.m_row_count, pc.row + 1);
    sheet.m_column_count = std::max(sheet.m_column_count, pc.column + 1);
  }
  return sheet;
}

Reader::Reader(const std::filesystem::path& path, ReaderLimits limits)
  : m_impl(std::make_unique<Impl>())
{
  m_impl->path = path;
  m_impl->limits = limits;
  m_impl->open();
}

Reader::~Reader() = default;
Reader::Reader(Reader&&) noexcept = default;
Reader& Reader::operator=(Reader&&) noexcept = default;

const std::filesystem::path& Reader::path() const
{
  return m_impl->path;
}

const std::vector<std::string>& Reader::sheet_names() const
{
  return m_impl->names;
}

bool Reader::has_sheet(std::string_view name) const
{
  return std::find(m_impl->names.begin(), m_impl->names.end(), name) != m_impl->names.end();
}

Sheet Reader::read_sheet(std::string_view name) const
{
  const auto it = std::find(m_impl->names.begin(), m_impl->names.end(), name);
  if (it == m_impl->names.end()) {
    throw m_impl->error("no worksheet named '" + std::string(name) + "'");
  }
  return m_impl->read(static_cast<std::size_t>(it - m_impl->names.begin()));
}

Sheet Reader::read_sheet(std::size_t index) const
{
  if (index >= m_impl->names.size()) {
    throw m_impl->error("no worksheet at position " + std::to_string(index) + " (the workbook has "
                        + std::to_string(m_impl->names.size()) + ")");
  }
  return m_impl->read(index);
}

} // namespace tarnwick::xlsx
