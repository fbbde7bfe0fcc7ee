#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/olvent/screen.hpp"

namespace {

using tarnwick::olvent::LineBuffer;
using tarnwick::olvent::LogMark;
using tarnwick::olvent::ProgressBar;
using tarnwick::olvent::Redirect;
using tarnwick::olvent::Screen;
using tarnwick::olvent::Verbosity;

// Two files standing in for the output and the error output of a screen.
class Outputs
{
public:
  Outputs() : m_out(std::tmpfile()), m_err(std::tmpfile()) {}
  ~Outputs()
  {
    std::fclose(m_out);
    std::fclose(m_err);
  }
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  int out() const { return fileno(m_out); }
  int err() const { return fileno(m_err); }
  std::string out_text() const { return text_of(m_out); }
  std::string err_text() const { return text_of(m_err); }

private:
  static std::string text_of(std::FILE* file)
  {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = pread(fileno(file), buffer, sizeof buffer, text.size())) > 0;)
      text.append(buffer, static_cast<std::size_t>(got));
    return text;
  }

  std::FILE* m_out;
  std::FILE* m_err;
};

// What the engine logs and prints around a failed flow row, a failed sheet read and a missing
// instance, and what a reader prints by itself.
void feed(Screen& screen)
{
  screen.log("Parse Job: A", LogMark::job_begins());
  screen.printed("a reader's note");
  screen.log("Error found in power process:", LogMark::error());
  screen.log("No such file or directory: 'Levels.txt'", LogMark::error_detail());
  screen.log("0 - {'Opcode': 'Test'}", LogMark::error_detail());
  screen.printed("0 {'Opcode': 'Test'}");
  screen.log("Error: cannot read Inst.txt, please check it!", LogMark::error());
  screen.printed("No such file or directory: 'Inst.txt'");
  screen.log("Info: cannot found I in Test Instance, please check.", LogMark::plain());
  screen.printed("Info: cannot found I in Test Instance, please check.");
  screen.printed("");
  screen.log("Cannot find power pin name in pin level file!", LogMark::warning());
  screen.log("Power pin name is: VDD", LogMark::warning_detail());
}

TEST(Screen, ShowsEveryLineOnceAndQuietOnlyTheWholeReports)
{
  Outputs every;
  Screen loud(Verbosity::every_line, ProgressBar::hidden, every.out(), every.err());
  feed(loud);
  EXPECT_EQ(every.out_text(), "Parse Job: A\n"
                              "a reader's note\n"
                              "Error found in power process:\n"
                              "No such file or directory: 'Levels.txt'\n"
                              "0 - {'Opcode': 'Test'}\n"
                              "Error: cannot read Inst.txt, please check it!\n"
                              "No such file or directory: 'Inst.txt'\n"
                              "Info: cannot found I in Test Instance, please check.\n"
                              "\n"
                              "Cannot find power pin name in pin level file!\n"
                              "Power pin name is: VDD\n");
  EXPECT_EQ(every.err_text(), "");

  // Quiet: every line of each report, whatever its first word, and the printed reason of a
  // report; nothing of the rest.
  Outputs few;
  Screen quiet(Verbosity::quiet, ProgressBar::hidden, few.out(), few.err());
  feed(quiet);
  quiet.out("/out/Olvent.xlsm\n");
  EXPECT_EQ(few.err_text(), "Error found in power process:\n"
                            "No such file or directory: 'Levels.txt'\n"
                            "0 - {'Opcode': 'Test'}\n"
                            "Error: cannot read Inst.txt, please check it!\n"
                            "No such file or directory: 'Inst.txt'\n"
                            "Cannot find power pin name in pin level file!\n"
                            "Power pin name is: VDD\n");
  EXPECT_EQ(few.out_text(), "/out/Olvent.xlsm\n");
}

// The bar as it is drawn at `percent` with the stage `stage`.
std::string bar(int percent, const std::string& stage)
{
  const int filled = percent * 40 / 100;
  return "\r[" + std::string(filled, '#') + std::string(40 - filled, ' ') + "] "
         + std::to_string(percent) + "%" + (stage.empty() ? "" : "  " + stage) + "\033[K";
}

TEST(Screen, FollowsTheStageOfTheRunByTheMarksOfTheLog)
{
  Outputs outputs;
  Screen screen(Verbosity::every_line, ProgressBar::shown, outputs.out(), outputs.err());
  screen.set_jobs(2);
  screen.progress(0);
  // The mark moves the stage on, not the text.
  screen.log("Parse Job: A", LogMark::job_begins());
  screen.log("Parse Job: not a job", LogMark::plain());
  screen.progress(0); // nothing new to draw
  screen.log("next job", LogMark::job_begins());
  screen.progress(50.7);
  screen.log("third", LogMark::job_begins());
  screen.log("VBT", LogMark::vbt_check_begins());
  screen.progress(140);
  screen.finish();
  // A signal that ends the run after the bar's line ended adds no line end.
  tarnwick::olvent::end_bar_line();
  const std::string clear = "\r\033[K";
  EXPECT_EQ(outputs.err_text(), bar(0, "job 1 of 2") + clear + bar(0, "job 1 of 2") + clear
                                    + bar(0, "job 1 of 2") + clear + bar(0, "job 2 of 2")
                                    + bar(50, "job 2 of 2") + clear + bar(50, "job 3 of 3")
                                    + clear + bar(50, "VBT check") + bar(100, "VBT check")
                                    + "\n");
  EXPECT_EQ(outputs.out_text(), "Parse Job: A\nParse Job: not a job\nnext job\nthird\nVBT\n");

  // One that comes while the bar is drawn ends its line.
  Outputs ended;
  Screen drawn(Verbosity::every_line, ProgressBar::shown, ended.out(), ended.err());
  drawn.progress(10);
  tarnwick::olvent::end_bar_line();
  EXPECT_EQ(ended.err_text(), bar(10, "") + "\n");
}

TEST(LineBuffer, HandsOnWholeLinesAndTheLastPartAtItsEnd)
{
  std::vector<std::string> lines;
  std::ostringstream other;
  {
    LineBuffer buffer([&lines](const std::string& line) { lines.push_back(line); });
    std::ostream stream(&buffer);
    stream << "one\ntw";
    stream.put('o');
    stream << "\n\nrest";
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", ""}));

    std::streambuf* before = other.rdbuf();
    {
      Redirect redirect(other, buffer);
      other << "sent\n";
    }
    EXPECT_EQ(other.rdbuf(), before);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "restsent"}));
}

} // namespace
