#include "vba_project.hpp"

#include <array>
#include <stdexcept>
#include <vector>

#include "compound_file.hpp"

namespace tarnwick::tools {

namespace {

// Fixed identity of the project, so that every build writes the same file.
constexpr std::string_view k_project_id = "{6E1B2A0C-3D5F-4A7E-9C21-8B4D0F6A3E57}";
constexpr std::string_view k_project_name = "VBAProject";
// Seeds of the three protection fields; (seed & 6) / 2 filler bytes follow each.
constexpr std::uint8_t k_cmg_seed = 0x1B;
constexpr std::uint8_t k_dpb_seed = 0x2D;
constexpr std::uint8_t k_gc_seed = 0x3E;
constexpr std::uint8_t k_filler = 0x5A;

constexpr std::size_t k_max_literal_chunk = 3640; // 3640 + 455 flag bytes + header <= 4098

enum class ModuleKind { procedural, document };

struct Module
{
  std::string_view name;
  ModuleKind kind;
  std::string_view source;
};

constexpr std::string_view k_this_workbook_source =
  "Attribute VB_Name = \"ThisWorkbook\"\r\n"
  "Attribute VB_Base = \"0{00020819-0000-0000-C000-000000000046}\"\r\n"
  "Attribute VB_GlobalNameSpace = False\r\n"
  "Attribute VB_Creatable = False\r\n"
  "Attribute VB_PredeclaredId = True\r\n"
  "Attribute VB_Exposed = True\r\n"
  "Attribute VB_TemplateDerived = False\r\n"
  "Attribute VB_Customizable = True\r\n";

constexpr std::string_view k_module1_source =
  "Attribute VB_Name = \"Module1\"\r\n"
  "Option Explicit\r\n";

constexpr std::array<Module, 2> k_modules{{
  {"ThisWorkbook", ModuleKind::document, k_this_workbook_source},
  {"Module1", ModuleKind::procedural, k_module1_source},
}};

void append16(std::string& out, std::uint16_t value)
{
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void append32(std::string& out, std::uint32_t value)
{
  for (int i = 0; i < 4; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// UTF-16LE of ASCII text.
std::string utf16(std::string_view ascii)
{
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

// Record builders of the dir stream: id, 4-byte size, payload.
class DirWriter
{
public:
  void u32(std::uint16_t id, std::uint32_t value)
  {
    append16(m_out, id);
    append32(m_out, 4);
    append32(m_out, value);
  }
  void u16(std::uint16_t id, std::uint16_t value)
  {
    append16(m_out, id);
    append32(m_out, 2);
    append16(m_out, value);
  }
  void text(std::uint16_t id, std::string_view value)
  {
    append16(m_out, id);
    append32(m_out, static_cast<std::uint32_t>(value.size()));
    m_out += value;
  }
  // A text record followed by its UTF-16 twin under `unicode_id`.
  void text_pair(std::uint16_t id, std::string_view value, std::uint16_t unicode_id)
  {
    text(id, value);
    text(unicode_id, utf16(value));
  }
  // A record without payload size: id and a 4-byte reserved zero.
  void mark(std::uint16_t id)
  {
    append16(m_out, id);
    append32(m_out, 0);
  }
  void raw(std::string_view bytes) { m_out += bytes; }

  const std::string& bytes() const { return m_out; }

private:
  std::string m_out;
};

std::string dir_stream()
{
  DirWriter dir;
  // Project information.
  dir.u32(0x0001, 0x00000001); // PROJECTSYSKIND: 32-bit Windows
  dir.u32(0x0002, 0x00000409); // PROJECTLCID
  dir.u32(0x0014, 0x00000409); // PROJECTLCIDINVOKE
  dir.u16(0x0003, 1252);       // PROJECTCODEPAGE
  dir.text(0x0004, k_project_name);      // PROJECTNAME
  dir.text_pair(0x0005, "", 0x0040);     // PROJECTDOCSTRING
  dir.text_pair(0x0006, "", 0x003D);     // PROJECTHELPFILEPATH
  dir.u32(0x0007, 0);          // PROJECTHELPCONTEXT
  dir.u32(0x0008, 0);          // PROJECTLIBFLAGS
  {                            // PROJECTVERSION: reserved 4, major, minor
    std::string version;
    append16(version, 0x0009);
    append32(version, 4);
    append32(version, 1);
    append16(version, 0);
    dir.raw(version);
  }
  dir.text_pair(0x000C, "", 0x003C);     // PROJECTCONSTANTS

  // One reference: the OLE Automation type library.
  dir.text_pair(0x0016, "stdole", 0x003E); // REFERENCENAME
  {
    const std::string_view libid =
      "*\\G{00020430-0000-0000-C000-000000000046}#2.0#0#"
      "C:\\Windows\\System32\\stdole2.tlb#OLE Automation";
    std::string registered;                // REFERENCEREGISTERED
    append16(registered, 0x000D);
    append32(registered, static_cast<std::uint32_t>(4 + libid.size() + 4 + 2));
    append32(registered, static_cast<std::uint32_t>(libid.size()));
    registered += libid;
    append32(registered, 0);
    append16(registered, 0);
    dir.raw(registered);
  }

  // Modules.
  dir.u16(0x000F, static_cast<std::uint16_t>(k_modules.size())); // PROJECTMODULES
  dir.u16(0x0013, 0xFFFF);                                        // PROJECTCOOKIE
  for (const Module& module : k_modules) {
    dir.text(0x0019, module.name);                 // MODULENAME
    dir.text(0x0047, utf16(module.name));          // MODULENAMEUNICODE
    dir.text_pair(0x001A, module.name, 0x0032);    // MODULESTREAMNAME
    dir.text_pair(0x001C, "", 0x0048);             // MODULEDOCSTRING
    dir.u32(0x0031, 0);                            // MODULEOFFSET: source at the start
    dir.u32(0x001E, 0);                            // MODULEHELPCONTEXT
    dir.u16(0x002C, 0xFFFF);                       // MODULECOOKIE
    dir.mark(module.kind == ModuleKind::document ? 0x0022 : 0x0021); // MODULETYPE
    dir.mark(0x002B);                              // end of the module
  }
  dir.mark(0x0010); // end of the dir stream
  return dir.bytes();
}

std::string project_stream()
{
  std::string text;
  auto line = [&text](std::string_view value) {
    text += value;
    text += "\r\n";
  };
  line("ID=\"" + std::string(k_project_id) + "\"");
  for (const Module& module : k_modules) {
    if (module.kind == ModuleKind::document) {
      line("Document=" + std::string(module.name) + "/&H00000000");
    } else {
      line("Module=" + std::string(module.name));
    }
  }
  line("Name=\"" + std::string(k_project_name) + "\"");
  line("HelpContextID=\"0\"");
  line("VersionCompatible32=\"393222000\"");
  line("CMG=\"" + encrypt_to_hex(k_project_id, k_cmg_seed, std::string(4, '\0')) + "\"");
  line("DPB=\"" + encrypt_to_hex(k_project_id, k_dpb_seed, std::string(1, '\0')) + "\"");
  line("GC=\"" + encrypt_to_hex(k_project_id, k_gc_seed, "\xFF") + "\"");
  line("");
  line("[Host Extender Info]");
  line("&H00000001={3832D640-CF90-11CF-8E43-00A0C911005A};VBE;&H00000000");
  line("");
  line("[Workspace]");
  for (const Module& module : k_modules) {
    line(std::string(module.name) + "=0, 0, 0, 0, C");
  }
  return text;
}

// Module name map: each name in the code page, then in UTF-16, each ended by a null.
std::string project_wm_stream()
{
  std::string out;
  for (const Module& module : k_modules) {
    out += module.name;
    out += '\0';
    out += utf16(module.name);
    append16(out, 0);
  }
  append16(out, 0);
  return out;
}

std::string vba_project_stream()
{
  std::string out;
  append16(out, 0x61CC); // reserved
  append16(out, 0xFFFF); // version: no compiled cache, the host compiles the source
  out += '\0';           // reserved
  append16(out, 0x0000); // reserved
  return out;
}

} // namespace

std::string compress_container(std::string_view data)
{
  if (data.size() > k_max_literal_chunk) {
    throw std::runtime_error("text too long for one literal chunk: "
                             + std::to_string(data.size()) + " bytes");
  }
  std::string chunk;
  for (std::size_t i = 0; i < data.size(); i += 8) {
    chunk += '\0'; // flag byte: the next eight tokens are literals
    chunk += data.substr(i, 8);
  }
  std::string out(1, '\x01');
  if (chunk.empty()) {
    return out;
  }
  append16(out, static_cast<std::uint16_t>(0xB000 | (chunk.size() + 2 - 3)));
  out += chunk;
  return out;
}

std::string encrypt_to_hex(std::string_view project_id, std::uint8_t seed, std::string_view data)
{
  std::uint8_t project_key = 0;
  for (char c : project_id) {
    project_key = static_cast<std::uint8_t>(project_key + static_cast<unsigned char>(c));
  }
  std::vector<std::uint8_t> out;
  const auto version_enc = static_cast<std::uint8_t>(seed ^ 2);
  const auto key_enc = static_cast<std::uint8_t>(seed ^ project_key);
  out.push_back(seed);
  out.push_back(version_enc);
  out.push_back(key_enc);

  std::uint8_t plain1 = project_key;
  std::uint8_t enc1 = key_enc;
  std::uint8_t enc2 = version_enc;
  auto encrypt_byte = [&](std::uint8_t value) {
    const auto byte = static_cast<std::uint8_t>(value ^ static_cast<std::uint8_t>(enc2 + plain1));
    out.push_back(byte);
    enc2 = enc1;
    enc1 = byte;
    plain1 = value;
  };
  const int ignored = (seed & 6) / 2;
  for (int i = 0; i < ignored; ++i) {
    encrypt_byte(k_filler);
  }
  const auto length = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) {
    encrypt_byte(static_cast<std::uint8_t>((length >> (8 * i)) & 0xFF));
  }
  for (char c : data) {
    encrypt_byte(static_cast<std::uint8_t>(c));
  }

  static constexpr char k_hex[] = "0123456789ABCDEF";
  std::string hex;
  for (std::uint8_t byte : out) {
    hex += k_hex[byte >> 4];
    hex += k_hex[byte & 0x0F];
  }
  return hex;
}

std::string make_vba_project()
{
  std::vector<CompoundNode> vba;
  vba.push_back(CompoundNode::stream("_VBA_PROJECT", vba_project_stream()));
  vba.push_back(CompoundNode::stream("dir", compress_container(dir_stream())));
  for (const Module& module : k_modules) {
    vba.push_back(CompoundNode::stream(std::string(module.name),
                                       compress_container(module.source)));
  }
  std::vector<CompoundNode> root;
  root.push_back(CompoundNode::stream("PROJECT", project_stream()));
  root.push_back(CompoundNode::stream("PROJECTwm", project_wm_stream()));
  root.push_back(CompoundNode::storage("VBA", std::move(vba)));
  return write_compound_file(root);
}

} // namespace tarnwick::tools
