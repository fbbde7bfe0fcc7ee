#include "tarnwick/brimsel/report_loader.hpp"

#include <dlfcn.h>

namespace tarnwick::brimsel {

namespace {

// An address inside this library, for asking the dynamic loader where the library lies.
void anchor() {}

std::string loader_error(const char* fallback)
{
  const char* text = dlerror();
  return text != nullptr ? std::string(text) : std::string(fallback);
}

} // namespace

ReportImportError::ReportImportError(const std::string& message) : Error(message) {}

ReportImportError::~ReportImportError() = default;

std::filesystem::path report_library_path()
{
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&anchor), &info) == 0 || info.dli_fname == nullptr) {
    throw ReportImportError("cannot locate the brimsel library to find "
                            + std::string(k_report_library_name) + " beside it");
  }
  return std::filesystem::path(info.dli_fname).parent_path() / k_report_library_name;
}

const ReportLibrary& ReportLibrary::load()
{
  // A throwing initialiser leaves the variable uninitialised, so a later call tries again.
  static const ReportLibrary library = open();
  return library;
}

ReportLibrary::ReportLibrary(DryRunReportEntry dry_run, RefactorReportEntry refactor)
  : m_dry_run(dry_run),
    m_refactor(refactor)
{
}

std::string
ReportLibrary::generate_dry_run_report(const ProgressCallback& update_progressbar,
                                       const VBAParser& parser, const std::string& output_dir,
                                       const std::filesystem::path& scratch_folder) const
{
  std::string path;
  m_dry_run(update_progressbar, parser, output_dir, scratch_folder, path);
  return path;
}

std::string ReportLibrary::generate_refactor_report(const ChangesMade& changes_made,
                                                    const std::string& output_dir,
                                                    const std::filesystem::path& scratch_folder) const
{
  std::string path;
  m_refactor(changes_made, output_dir, scratch_folder, path);
  return path;
}

ReportLibrary ReportLibrary::open()
{
  const std::string path = report_library_path().string();
  dlerror(); // drop an earlier message
  // The handle is never closed: the entry points stay valid for the life of the process.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    throw ReportImportError(loader_error(("cannot open " + path).c_str()));
  }
  const auto entry = [handle](const char* name) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
      throw ReportImportError(loader_error((std::string("no symbol ") + name).c_str()));
    }
    return symbol;
  };
  const auto dry_run = reinterpret_cast<DryRunReportEntry>(entry(k_dry_run_report_entry));
  const auto refactor = reinterpret_cast<RefactorReportEntry>(entry(k_refactor_report_entry));
  return ReportLibrary(dry_run, refactor);
}

} // namespace tarnwick::brimsel
