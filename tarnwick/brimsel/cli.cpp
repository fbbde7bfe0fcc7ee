#include "tarnwick/brimsel/cli.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/refactorer.hpp"
#include "tarnwick/brimsel/report_loader.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::brimsel {

namespace {

const std::string k_usage_line = "用法: brimsel <目录路径> [模式] [报告路径]";
const std::string k_refactor_usage_line = "用法: brimsel <目录路径> refactor <报告路径>";
const std::string k_dry_run_mode_line = "  dry-run  - 仅检查并生成报告 (默认)";
const std::string k_report_failed = "生成报告时出错: ";

constexpr int k_bar_width = 30;
constexpr int k_last_stage = 90;

void say(const std::string& line)
{
  std::cout << line << std::endl;
}

// Whether anything (a folder, a file, ...) is found at `path`; the empty text never is.
bool path_exists(const std::string& path)
{
  if (path.empty()) {
    return false;
  }
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(path), error);
}

void print_usage()
{
  say(k_usage_line);
  say("模式:");
  say(k_dry_run_mode_line);
  say("  refactor - 使用已有报告进行重构，不生成新报告");
  say("报告路径:");
  say("  在refactor模式下，指定dry-run模式生成的Excel报告路径");
  say("退出状态:");
  say("  0 - 全部完成（在提示时取消也是 0）");
  say("  1 - 参数错误");
  say("  2 - 没有应用任何修改");
  say("  3 - 有文件或报告未能写入");
}

void print_invalid_mode(const std::string& mode)
{
  say("错误：无效的模式 '" + mode + "'");
  say("支持的模式:");
  say(k_dry_run_mode_line);
  say("  refactor - 使用已有报告进行重构");
  say(k_usage_line);
}

void print_counts(const VBAParser& parser)
{
  const auto count = [](std::size_t size) {
    return text::format_int(static_cast<std::int64_t>(size));
  };
  say("解析完成！");
  say("发现 " + count(parser.global_variables.size()) + " 个全局变量");
  say("发现 " + count(parser.functions.size()) + " 个函数");
  say("发现 " + count(parser.types.size()) + " 个Type定义");
  say("发现 " + count(parser.enums.size()) + " 个Enum定义");
}

void run_dry_run(const ReportLibrary& writer, const VBAParser& parser,
                 const std::string& directory_path, const std::filesystem::path& scratch_folder)
{
  ProgressBar bar(std::cerr);
  ProgressCallback update_progressbar = [](int) {};
  if (isatty(STDERR_FILENO) == 1) {
    update_progressbar = [&bar](int value) { bar.update(value); };
  }
  const std::string path =
    writer.generate_dry_run_report(update_progressbar, parser, directory_path, scratch_folder);
  bar.finish();
  say("\n✓ Dry-run报告已生成: " + path);
  say("\n请查看报告并确认修改，然后使用refactor模式应用修改");
}

// Refactor mode after its argument checks: the confirmation prompt, then the renames confirmed
// in the report and the refactor report of what was rewritten, also when some files failed.
// Returns the exit status.
int run_refactor(const ReportLibrary& writer, const VBAParser& parser,
                 const std::string& directory_path, const std::string& report_path,
                 const std::filesystem::path& scratch_folder)
{
  say("使用已有报告: " + report_path);
  std::cout << "\n是否继续自动重构？(y/N): " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    say(k_report_failed + "EOF when reading a line");
    return k_exit_nothing_applied;
  }
  if (text::lower(text::strip(answer)) != "y") {
    say("重构已取消");
    return k_exit_success;
  }
  VBTRefactorer refactorer(parser);
  const ApplyResult result = refactorer.apply_changes_from_excel(report_path);
  if (result.rewritten == 0 && result.failed == 0) {
    say("重构应用失败");
    return k_exit_nothing_applied;
  }
  const std::size_t failed = result.failed + result.not_parsed;
  if (failed == 0) {
    say("重构应用成功！");
  } else {
    say("重构未完成: " + text::format_int(static_cast<std::int64_t>(failed)) + " 个文件未能修改");
  }
  if (result.rewritten > 0) {
    const std::string path =
      writer.generate_refactor_report(refactorer.applied_changes(), directory_path, scratch_folder);
    say("✓ 重构报告已生成: " + path);
  }
  return failed == 0 ? k_exit_success : k_exit_failed;
}

} // namespace

ProgressBar::ProgressBar(std::ostream& out) : m_out(out) {}

ProgressBar::~ProgressBar()
{
  try {
    finish();
  } catch (...) {
    // A stream that fails while the bar is put away has nothing more to show.
  }
}

void ProgressBar::update(int value)
{
  const int stage = std::clamp(value, 0, k_last_stage);
  const int filled = stage * k_bar_width / k_last_stage;
  const int percent = stage * 100 / k_last_stage;
  m_out << '\r' << '[' << std::string(static_cast<std::size_t>(filled), '#')
        << std::string(static_cast<std::size_t>(k_bar_width - filled), '.') << "] "
        << text::format_int(percent) << '%';
  m_open = true;
  if (stage == k_last_stage) {
    finish();
  } else {
    m_out << std::flush;
  }
}

void ProgressBar::finish()
{
  if (m_open) {
    m_out << std::endl;
    m_open = false;
  }
}

int run_command_line(const std::vector<std::string>& args)
{
  if (args.empty()) {
    print_usage();
    return k_exit_usage;
  }
  const std::string& directory_path = args[0];
  const std::string mode = args.size() > 1 ? args[1] : std::string("dry-run");
  std::optional<std::string> report_path;
  if (args.size() > 2 && !args[2].empty()) {
    report_path = args[2];
  }

  if (!path_exists(directory_path)) {
    say("错误：目录 '" + directory_path + "' 不存在");
    return k_exit_usage;
  }
  if (std::error_code error; !std::filesystem::is_directory(directory_path, error)) {
    say("错误：'" + directory_path + "' 不是目录");
    return k_exit_usage;
  }
  say("开始处理目录: " + directory_path);
  say("模式: " + mode);

  VBAParser parser;
  parser.parse_files(directory_path);
  print_counts(parser);

  // The stops below return their status; only report failures reach the handlers.
  try {
    const ReportLibrary& writer = ReportLibrary::load();
    // The workbook library's scratch files go here, so that an interrupted run leaves none.
    const files::TemporaryFolder scratch("brimsel");
    if (mode == "dry-run") {
      run_dry_run(writer, parser, directory_path, scratch.path());
      return k_exit_success;
    }
    if (mode == "refactor") {
      if (!report_path) {
        say("错误：refactor模式需要指定报告路径");
        say(k_refactor_usage_line);
        return k_exit_usage;
      }
      if (!path_exists(*report_path)) {
        say("错误：指定的报告文件 '" + *report_path + "' 不存在");
        return k_exit_usage;
      }
      return run_refactor(writer, parser, directory_path, *report_path, scratch.path());
    }
    print_invalid_mode(mode);
    return k_exit_usage;
  } catch (const ReportImportError& error) {
    say(std::string("无法导入Excel报告生成器: ") + error.what());
    say(std::string("请安装所需依赖: ") + k_install_command);
  } catch (const std::exception& error) {
    say(k_report_failed + error.what());
  }
  return k_exit_failed;
}

} // namespace tarnwick::brimsel
