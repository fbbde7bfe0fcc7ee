#include "compound_file.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace tarnwick::tools {

namespace {

constexpr std::uint32_t k_sector_size = 512;
constexpr std::uint32_t k_mini_sector_size = 64;
constexpr std::uint32_t k_mini_stream_cutoff = 4096;
constexpr std::uint32_t k_entries_per_sector = k_sector_size / 128;
constexpr std::uint32_t k_ids_per_sector = k_sector_size / 4;
constexpr std::uint32_t k_header_fat_slots = 109;

constexpr std::uint32_t k_fat_sector = 0xFFFFFFFD;
constexpr std::uint32_t k_end_of_chain = 0xFFFFFFFE;
constexpr std::uint32_t k_free_sector = 0xFFFFFFFF;
constexpr std::uint32_t k_no_stream = 0xFFFFFFFF;

constexpr std::uint8_t k_type_storage = 1;
constexpr std::uint8_t k_type_stream = 2;
constexpr std::uint8_t k_type_root = 5;
constexpr std::uint8_t k_red = 0;
constexpr std::uint8_t k_black = 1;

void put16(std::string& out, std::size_t at, std::uint16_t value)
{
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>(value >> 8);
}

void put32(std::string& out, std::size_t at, std::uint32_t value)
{
  for (int i = 0; i < 4; ++i) {
    out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

std::uint32_t blocks(std::size_t size, std::uint32_t block)
{
  return static_cast<std::uint32_t>((size + block - 1) / block);
}

// One directory entry while the file is laid out.
struct DirEntry
{
  std::string name;
  std::uint8_t type = 0;
  std::uint8_t color = k_black;
  std::uint32_t left = k_no_stream;
  std::uint32_t right = k_no_stream;
  std::uint32_t child = k_no_stream;
  std::uint32_t start = k_end_of_chain;
  std::uint64_t size = 0;
  const std::string* data = nullptr;
};

// Sibling order of the format: shorter names first, then by upper-cased characters.
bool name_less(const std::string& a, const std::string& b)
{
  if (a.size() != b.size()) {
    return a.size() < b.size();
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) {
      return static_cast<unsigned char>(up(a[i])) < static_cast<unsigned char>(up(b[i]));
    }
  }
  return false;
}

class Layout
{
public:
  explicit Layout(const std::vector<CompoundNode>& root_children)
  {
    m_entries.push_back({"Root Entry", k_type_root});
    m_entries[0].child = add_children(root_children);
  }

  std::string write();

private:
  // Adds the entries of `children` and returns the id of the root of their sibling tree.
  std::uint32_t add_children(const std::vector<CompoundNode>& children);
  // Links the sorted ids [begin, end) into a balanced tree; returns its root id.
  std::uint32_t link_tree(const std::vector<std::uint32_t>& sorted, std::size_t begin,
                          std::size_t end, int depth, int full_levels);

  std::vector<DirEntry> m_entries;
};

std::uint32_t Layout::add_children(const std::vector<CompoundNode>& children)
{
  if (children.empty()) {
    return k_no_stream;
  }
  std::vector<std::uint32_t> ids;
  for (const CompoundNode& node : children) {
    if (node.name.empty() || node.name.size() > 31) {
      throw std::runtime_error("compound file name must have 1 to 31 characters: " + node.name);
    }
    DirEntry entry;
    entry.name = node.name;
    entry.type = node.is_storage ? k_type_storage : k_type_stream;
    if (!node.is_storage) {
      entry.data = &node.data;
      entry.size = node.data.size();
    }
    ids.push_back(static_cast<std::uint32_t>(m_entries.size()));
    m_entries.push_back(entry);
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (children[i].is_storage) {
      m_entries[ids[i]].child = add_children(children[i].children);
    }
  }
  std::sort(ids.begin(), ids.end(), [this](std::uint32_t a, std::uint32_t b) {
    return name_less(m_entries[a].name, m_entries[b].name);
  });
  for (std::size_t i = 1; i < ids.size(); ++i) {
    if (!name_less(m_entries[ids[i - 1]].name, m_entries[ids[i]].name)) {
      throw std::runtime_error("two compound file entries named " + m_entries[ids[i]].name);
    }
  }
  // The complete levels of a tree split at the middle; the nodes below them are red.
  int full_levels = 0;
  while ((std::size_t{1} << (full_levels + 1)) - 1 <= ids.size()) {
    ++full_levels;
  }
  return link_tree(ids, 0, ids.size(), 0, full_levels);
}

std::uint32_t Layout::link_tree(const std::vector<std::uint32_t>& sorted, std::size_t begin,
                                std::size_t end, int depth, int full_levels)
{
  if (begin >= end) {
    return k_no_stream;
  }
  const std::size_t middle = begin + (end - begin) / 2;
  DirEntry& node = m_entries[sorted[middle]];
  node.color = depth < full_levels ? k_black : k_red;
  node.left = link_tree(sorted, begin, middle, depth + 1, full_levels);
  node.right = link_tree(sorted, middle + 1, end, depth + 1, full_levels);
  return sorted[middle];
}

std::string Layout::write()
{
  // Mini stream: every stream below the cutoff, each starting on a 64-byte boundary.
  std::string mini_stream;
  std::vector<std::uint32_t> mini_fat;
  std::vector<DirEntry*> big_streams;
  for (DirEntry& entry : m_entries) {
    if (entry.type != k_type_stream || entry.size == 0) {
      continue;
    }
    if (entry.size >= k_mini_stream_cutoff) {
      big_streams.push_back(&entry);
      continue;
    }
    const std::uint32_t first = static_cast<std::uint32_t>(mini_fat.size());
    const std::uint32_t count = blocks(entry.size, k_mini_sector_size);
    for (std::uint32_t i = 0; i < count; ++i) {
      mini_fat.push_back(i + 1 < count ? first + i + 1 : k_end_of_chain);
    }
    entry.start = first;
    mini_stream += *entry.data;
    mini_stream.resize(std::size_t{mini_fat.size()} * k_mini_sector_size, '\0');
  }

  const std::uint32_t dir_sectors =
    blocks(m_entries.size(), k_entries_per_sector);
  const std::uint32_t mini_fat_sectors = blocks(mini_fat.size() * 4, k_sector_size);
  const std::uint32_t mini_stream_sectors = blocks(mini_stream.size(), k_sector_size);
  std::uint32_t big_sectors = 0;
  for (const DirEntry* entry : big_streams) {
    big_sectors += blocks(entry->size, k_sector_size);
  }
  const std::uint32_t data_sectors =
    dir_sectors + mini_fat_sectors + mini_stream_sectors + big_sectors;
  std::uint32_t fat_sectors = 1;
  while (fat_sectors * k_ids_per_sector < fat_sectors + data_sectors) {
    ++fat_sectors;
  }
  if (fat_sectors > k_header_fat_slots) {
    throw std::runtime_error("compound file too large for this writer");
  }

  // Sector order: FAT, directory, mini FAT, mini stream, large streams.
  std::vector<std::uint32_t> fat(std::size_t{fat_sectors} * k_ids_per_sector, k_free_sector);
  std::uint32_t next = 0;
  auto chain = [&](std::uint32_t count) {
    const std::uint32_t first = next;
    for (std::uint32_t i = 0; i < count; ++i) {
      fat[next] = i + 1 < count ? next + 1 : k_end_of_chain;
      ++next;
    }
    return count == 0 ? k_end_of_chain : first;
  };
  for (std::uint32_t i = 0; i < fat_sectors; ++i) {
    fat[next++] = k_fat_sector;
  }
  const std::uint32_t dir_start = chain(dir_sectors);
  const std::uint32_t mini_fat_start = chain(mini_fat_sectors);
  m_entries[0].start = chain(mini_stream_sectors);
  m_entries[0].size = mini_stream.size();
  for (DirEntry* entry : big_streams) {
    entry->start = chain(blocks(entry->size, k_sector_size));
  }

  std::string out(k_sector_size * (1 + std::size_t{fat_sectors} + data_sectors), '\0');

  // Header.
  const std::string signature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  out.replace(0, signature.size(), signature);
  put16(out, 0x18, 0x003E);      // minor version
  put16(out, 0x1A, 0x0003);      // major version 3
  put16(out, 0x1C, 0xFFFE);      // little-endian
  put16(out, 0x1E, 9);           // 512-byte sectors
  put16(out, 0x20, 6);           // 64-byte mini sectors
  put32(out, 0x28, 0);           // directory sector count: always 0 in version 3
  put32(out, 0x2C, fat_sectors);
  put32(out, 0x30, dir_start);
  put32(out, 0x34, 0);           // transactions unused
  put32(out, 0x38, k_mini_stream_cutoff);
  put32(out, 0x3C, mini_fat_start);
  put32(out, 0x40, mini_fat_sectors);
  put32(out, 0x44, k_end_of_chain); // no DIFAT sectors
  put32(out, 0x48, 0);
  for (std::uint32_t i = 0; i < k_header_fat_slots; ++i) {
    put32(out, 0x4C + 4 * i, i < fat_sectors ? i : k_free_sector);
  }

  auto sector_offset = [](std::uint32_t sector) {
    return std::size_t{k_sector_size} * (std::size_t{sector} + 1);
  };

  for (std::size_t i = 0; i < fat.size(); ++i) {
    put32(out, sector_offset(0) + 4 * i, fat[i]);
  }

  // Directory; unused slots of the last sector are empty entries.
  for (std::uint32_t slot = 0; slot < dir_sectors * k_entries_per_sector; ++slot) {
    const std::size_t at = sector_offset(dir_start) + 128 * std::size_t{slot};
    if (slot >= m_entries.size()) {
      put32(out, at + 0x44, k_no_stream);
      put32(out, at + 0x48, k_no_stream);
      put32(out, at + 0x4C, k_no_stream);
      continue;
    }
    const DirEntry& entry = m_entries[slot];
    for (std::size_t c = 0; c < entry.name.size(); ++c) {
      put16(out, at + 2 * c, static_cast<unsigned char>(entry.name[c]));
    }
    put16(out, at + 0x40, static_cast<std::uint16_t>(2 * (entry.name.size() + 1)));
    out[at + 0x42] = static_cast<char>(entry.type);
    out[at + 0x43] = static_cast<char>(entry.color);
    put32(out, at + 0x44, entry.left);
    put32(out, at + 0x48, entry.right);
    put32(out, at + 0x4C, entry.child);
    const bool has_data = entry.type == k_type_root || (entry.type == k_type_stream && entry.size > 0);
    put32(out, at + 0x74, has_data ? entry.start : (entry.type == k_type_stream ? k_end_of_chain : 0));
    put32(out, at + 0x78, static_cast<std::uint32_t>(entry.size));
  }

  for (std::size_t i = 0; i < mini_fat_sectors * std::size_t{k_ids_per_sector}; ++i) {
    put32(out, sector_offset(mini_fat_start) + 4 * i,
          i < mini_fat.size() ? mini_fat[i] : k_free_sector);
  }
  if (!mini_stream.empty()) {
    out.replace(sector_offset(m_entries[0].start), mini_stream.size(), mini_stream);
  }
  for (const DirEntry* entry : big_streams) {
    out.replace(sector_offset(entry->start), entry->data->size(), *entry->data);
  }
  return out;
}

} // namespace

std::string write_compound_file(const std::vector<CompoundNode>& root_children)
{
  return Layout(root_children).write();
}

} // namespace tarnwick::tools
