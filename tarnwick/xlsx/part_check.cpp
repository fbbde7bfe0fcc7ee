#include "tarnwick/xlsx/part_check.hpp"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>


namespace tarnwick::xlsx {

namespace {

// Parts the workbook library writes as XML through its scratch files.
bool xml_part(std::string_view name)
{
  return name.ends_with(".xml") || name.ends_with(".rels") || name.ends_with(".vml");
}

// Follows the markup of one XML part as its bytes come, in constant memory: the nesting of its
// elements, and whether it stops inside a tag, a comment, a declaration or a CDATA section. A
// part cut short (a scratch file that filled its folder) ends with its document element still
// open, or with none. The text between tags is not judged: the library writes it escaped.
class MarkupFollower
{
public:
  // Takes the next bytes; false when the markup is already wrong (see finish()).
  bool feed(std::string_view bytes)
  {
    for (const char c : bytes) {
      if (!step(c)) {
        return false;
      }
      ++m_offset;
    }
    return true;
  }

  // What is wrong with the part once all of it was fed, or nothing.
  std::optional<std::string> finish()
  {
    if (m_problem.empty()) {
      if (m_state != State::text) {
        m_problem = "cut short inside markup";
      } else if (!m_root_seen) {
        m_problem = "no document element";
      } else if (m_depth > 0) {
        m_problem = "cut short, elements left open: " + std::to_string(m_depth);
      }
    }
    if (m_problem.empty()) {
      return std::nullopt;
    }
    return m_problem + " at offset " + std::to_string(m_offset);
  }

private:
  enum class State
  {
    text,        // between tags
    open,        // just after "<"
    tag,         // inside a start or end tag
    quoted,      // inside an attribute value of a tag
    special,     // inside "<?...?>", "<!--...-->", "<![CDATA[...]]>" or "<!...>"
  };

  bool fail(std::string problem)
  {
    m_problem = std::move(problem);
    return false;
  }

  bool step(char c)
  {
    switch (m_state) {
    case State::text:
      if (c == '<') {
        m_state = State::open;
      } else if (m_root_seen && m_depth == 0 && !is_blank(c)) {
        return fail("text after the document element");
      }
      return true;
    case State::open:
      if (c == '?' || c == '!') {
        m_state = State::special;
        m_special_end = c == '?' ? "?>" : ">";
        m_special_least = c == '?' ? 3 : 2;
        m_special_count = 1;
        m_special_seen.assign(1, c);
        m_tail[0] = m_tail[1] = 0;
        m_tail[2] = c;
        return true;
      }
      m_closing = c == '/';
      if (!m_closing && m_root_seen && m_depth == 0) {
        return fail("a second document element");
      }
      m_state = State::tag;
      m_last = c;
      return true;
    case State::tag:
      if (c == '"' || c == '\'') {
        m_quote = c;
        m_state = State::quoted;
      } else if (c == '>') {
        m_state = State::text;
        if (m_closing) {
          if (m_depth == 0) {
            return fail("a closing tag without its element");
          }
          --m_depth;
        } else {
          m_root_seen = true;
          if (m_last != '/') {
            ++m_depth;
          }
        }
      }
      m_last = c;
      return true;
    case State::quoted:
      if (c == m_quote) {
        m_state = State::tag;
        m_last = c;
      }
      return true;
    case State::special:
      // "<!--" and "<![CDATA[" end only at "-->" and "]]>", past their own opening.
      ++m_special_count;
      if (m_special_seen.size() < 8) {
        m_special_seen += c;
        if (m_special_seen == "!--") {
          m_special_end = "-->";
          m_special_least = 6;
        } else if (m_special_seen == "![CDATA[") {
          m_special_end = "]]>";
          m_special_least = 11;
        }
      }
      m_tail[0] = m_tail[1];
      m_tail[1] = m_tail[2];
      m_tail[2] = c;
      if (m_special_count >= m_special_least
          && std::string_view(m_tail, 3).ends_with(m_special_end)) {
        m_state = State::text;
      }
      return true;
    }
    return true;
  }

  static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  State m_state = State::text;
  std::size_t m_offset = 0;
  std::size_t m_depth = 0;
  bool m_root_seen = false;
  bool m_closing = false;
  char m_last = 0;
  char m_quote = 0;
  std::string m_special_seen;    // the first characters after "<" (at most 8)
  std::string_view m_special_end; // what ends the markup
  std::size_t m_special_least = 0; // its least length after "<", its end included
  std::size_t m_special_count = 0;
  char m_tail[3] = {};            // its last three characters
  std::string m_problem;
};

struct ArchiveCloser
{
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

struct PartCloser
{
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

} // namespace

PartCheck check_parts(std::span<const char> archive)
{
  PartCheck check;
  const auto found = [&check](std::string problem) {
    check.problem = std::move(problem);
    return check;
  };
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  if (source == nullptr) {
    std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    return found(std::move(reason));
  }
  std::unique_ptr<zip_t, ArchiveCloser> zip(zip_open_from_source(source, ZIP_RDONLY, &error));
  if (!zip) {
    zip_source_free(source);
    std::string reason = "not a zip archive: " + std::string(zip_error_strerror(&error));
    zip_error_fini(&error);
    return found(std::move(reason));
  }
  zip_error_fini(&error);

  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  std::vector<char> buffer(std::size_t{1} << 16);
  for (zip_int64_t index = 0; index < count; ++index) {
    const auto at = static_cast<zip_uint64_t>(index);
    const char* name = zip_get_name(zip.get(), at, 0);
    if (name == nullptr) {
      return found("part " + std::to_string(index) + ": " + zip_strerror(zip.get()));
    }
    if (!xml_part(name)) {
      continue;
    }
    const std::string failed = "part '" + std::string(name) + "'";
    std::unique_ptr<zip_file_t, PartCloser> file(zip_fopen_index(zip.get(), at, 0));
    if (!file) {
      return found(failed + ": " + zip_strerror(zip.get()));
    }
    // The checksum is compared when the last byte has been read.
    MarkupFollower markup;
    for (;;) {
      const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
      if (got < 0) {
        return found(failed + ": " + zip_error_strerror(zip_file_get_error(file.get())));
      }
      if (got == 0) {
        break;
      }
      check.xml_bytes += static_cast<std::uint64_t>(got);
      if (!markup.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
        break;
      }
    }
    if (const auto problem = markup.finish()) {
      return found(failed + " is not well-formed XML (" + *problem + ")");
    }
  }
  return check;
}

std::optional<std::string> scratch_space_problem(const std::filesystem::path& folder,
                                                 std::uint64_t bytes)
{
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A folder that takes no file at all says why itself.
    if (errno == ENOSPC || errno == EDQUOT || errno == EROFS || errno == EIO) {
      return std::string(std::strerror(errno));
    }
    return std::nullopt;
  }
  std::optional<std::string> problem;
  const int result =
    ::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0 ? 0 : errno;
  if (result == ENOSPC || result == EDQUOT || result == EFBIG || result == EIO) {
    problem = std::strerror(result);
  } else if (result != 0) {
    // No reservation on this file system: compare with the free space it reports.
    struct statvfs info{};
    if (::fstatvfs(fd, &info) == 0
        && static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize < bytes) {
      problem = std::strerror(ENOSPC);
    }
  }
  ::close(fd);
  return problem;
}

} // namespace tarnwick::xlsx
