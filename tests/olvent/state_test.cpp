#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"

namespace {

namespace fs = std::filesystem;
using tarnwick::olvent::Olvent;
using tarnwick::olvent::OlventAccess;
using namespace tarnwick::olvent::test;
using Names = std::vector<std::string>;

std::string job_list(const std::string& job)
{
  return "DTJobListSheet,version=2.5:platform=Jaguar\tJob List\n\n\n\tJob Name\n\t" + job +
         "\tpins\tTI\tFlow\tAC\tDC\tPS\n";
}

Names job_names(const Olvent& engine)
{
  Names names;
  if (engine.get_job_list())
    for (const auto& entry : *engine.get_job_list())
      names.push_back(entry.first);
  return names;
}

class OlventLoad : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    temp = make_dir("temp");
  }

  // Loads `device` with no settings; the log goes to `log`.
  void load(Olvent& engine, const fs::path& device, double vbt = 0)
  {
    engine.read_device(device.string(), "", "", "UltraFLEX",
                       [this](const std::string& line) { log.push_back(line); }, "Period", "",
                       vbt, nullptr);
  }

  fs::path temp;
  Names log;
};

TEST_F(OlventLoad, UsesAFolderInPlace)
{
  Olvent engine(temp.string());
  EXPECT_EQ(engine.get_job_list(), nullptr); // never loaded
  load(engine, device_folder());
  EXPECT_EQ(engine.device_directory, device_folder().string());
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(fs::is_empty(temp));
  EXPECT_EQ(job_names(engine), (Names{"FT_25C", "CP_HOT"}));
  EXPECT_EQ(engine.get_job_list()->at("CP_HOT").pattern_set,
            (Names{"Pattern Sets", "Pattern Sets Hot\n"}));
}

TEST_F(OlventLoad, UnpacksAnArchiveIntoTheTemporaryFolder)
{
  // A folder named after the archive holds the device when there is one...
  fs::path archive = dir() / "MyDevice.IGXL";
  write_zip(archive, device_entries("MyDevice/"));
  Olvent engine(temp.string());
  load(engine, archive);
  EXPECT_EQ(engine.device_directory, (temp / "MyDevice").string());
  EXPECT_EQ(job_names(engine), (Names{"FT_25C", "CP_HOT"}));
  EXPECT_TRUE(log.empty());

  // ...else the temporary folder itself does.
  fs::path flat = dir() / "flat.tar.zip";
  write_zip(flat, device_entries(""));
  fs::path temp2 = make_dir("temp2");
  Olvent engine2(temp2.string());
  load(engine2, flat);
  EXPECT_EQ(engine2.device_directory, temp2.string());
  EXPECT_EQ(job_names(engine2), (Names{"FT_25C", "CP_HOT"}));
}

TEST_F(OlventLoad, LogsAnUnsupportedFileAndSearchesTheTemporaryFolder)
{
  write_file(dir() / "dev.txt", "not a device");
  fs::create_directories(temp / "dev");
  write_file(temp / "dev" / "JobList.txt", job_list("FROM_DEV"));
  Olvent engine(temp.string());
  load(engine, dir() / "dev.txt");
  EXPECT_EQ(log, Names{"Error: file extension is not supported."});
  EXPECT_EQ(engine.device_directory, (temp / "dev").string());
  EXPECT_EQ(job_names(engine), Names{"FROM_DEV"});
}

TEST_F(OlventLoad, SaysWhatKindOfDeviceItWasGiven)
{
  using tarnwick::olvent::DeviceKind;
  fs::path archive = dir() / "dev.ZIP";
  write_zip(archive, device_entries("dev/"));
  write_file(dir() / "dev.txt", "not a device");
  Olvent engine(temp.string());
  EXPECT_EQ(engine.device_kind(), DeviceKind::none);
  for (const auto& [device, kind] : std::vector<std::pair<fs::path, DeviceKind>>{
           {device_folder(), DeviceKind::folder},
           {dir() / "dev.txt", DeviceKind::unsupported},
           {archive, DeviceKind::archive}}) {
    load(engine, device);
    EXPECT_EQ(engine.device_kind(), kind) << device;
  }
}

TEST_F(OlventLoad, LaterLoadsUnpackIntoAFreshFolder)
{
  fs::path first = dir() / "first.zip";
  fs::path second = dir() / "second.zip";
  write_zip(first, {{"Job List.txt", job_list("FIRST")}, {"only_first.txt", "x"}});
  write_zip(second, {{"Job List.txt", job_list("SECOND")}});

  Olvent engine(temp.string());
  load(engine, first);
  EXPECT_EQ(engine.device_directory, temp.string());
  load(engine, second);
  EXPECT_EQ(fs::path(engine.device_directory).parent_path(), temp);
  EXPECT_FALSE(fs::exists(fs::path(engine.device_directory) / "only_first.txt"));
  EXPECT_EQ(job_names(engine), Names{"SECOND"});

  // The host's own folder is never written into; a later unsupported file lists no jobs of an
  // earlier device.
  fs::path host = make_dir("host");
  write_file(host / "job_list.txt", job_list("HOST"));
  load(engine, host);
  load(engine, first);
  EXPECT_EQ(job_names(engine), Names{"FIRST"});
  EXPECT_EQ(fs::path(engine.device_directory).parent_path(), temp);
  EXPECT_FALSE(fs::exists(host / "only_first.txt"));
  write_file(dir() / "notes.txt", "x");
  load(engine, dir() / "notes.txt");
  ASSERT_NE(engine.get_job_list(), nullptr);
  EXPECT_TRUE(engine.get_job_list()->empty());
}

TEST_F(OlventLoad, TakesTheFirstMatchingRegularFileByName)
{
  fs::path device = make_dir("device");
  for (const std::string name : {"jobs.txt", "list_of_jobs.txt"})
    write_file(device / name, job_list("NO"));
  Olvent engine(temp.string());
  load(engine, device);
  ASSERT_NE(engine.get_job_list(), nullptr); // loaded, no jobs
  EXPECT_TRUE(engine.get_job_list()->empty());

  // Links that lead nowhere or loop, and a folder, are passed over whatever the listing order;
  // of the regular files the first by name is read, and the others are named.
  fs::create_symlink("missing.txt", device / "A Job List.txt");
  fs::create_symlink("Loop Job List.txt", device / "Loop Job List.txt");
  fs::create_directory(device / "B Job List");
  write_file(device / "joblist.txt", job_list("NEW"));
  write_file(device / "JobList_old.txt", job_list("OLD"));
  log.clear();
  load(engine, device);
  EXPECT_EQ(job_names(engine), Names{"OLD"});
  EXPECT_EQ(engine.job_list_path(), (device / "JobList_old.txt").string());
  EXPECT_EQ(log, Names{"Warning: several job-list sheets: reading " + (device / "JobList_old.txt").string()
                       + "; not read: " + (device / "joblist.txt").string()});

  for (const std::string name : {"Job Sheet List.txt", "MyJOB_LIST.txt"}) {
    fs::path other = make_dir(name + ".d");
    write_file(other / name, job_list("J"));
    load(engine, other);
    EXPECT_EQ(job_names(engine), Names{"J"}) << name;
  }
}

TEST_F(OlventLoad, LetsOtherFailuresThrough)
{
  // A matching folder cannot be read as a sheet; a broken archive cannot be unpacked.
  fs::path device = make_dir("device");
  fs::create_directories(device / "joblist_folder");
  Olvent engine(temp.string());
  EXPECT_THROW(load(engine, device), tarnwick::Error);
  EXPECT_EQ(engine.get_job_list(), nullptr);
  write_file(dir() / "bad.zip", "not a zip");
  EXPECT_THROW(load(engine, dir() / "bad.zip"), tarnwick::Error);
}

TEST_F(OlventLoad, LogsTheSettingsAndSendsToTheLastSinks)
{
  Olvent engine(temp.string());
  OlventAccess::put_data_log(engine, "nobody listens");
  engine.update_progressbar(5);
  std::vector<double> progress;
  engine.read_device(device_folder().string(), "power.xlsx", "pats", "J750",
                     [this](const std::string& line) { log.push_back(line); }, "Frequency",
                     "CTX", 1, [&](double value) { progress.push_back(value); });
  engine.update_progressbar(10);
  EXPECT_EQ(log, (Names{"Import Context Environment: CTX", "Import Power Order File: power.xlsx",
                        "Import Pattern Path: pats", "Brimsel Enabled!"}));
  EXPECT_EQ(progress, std::vector<double>{10});
  EXPECT_TRUE(engine.enable_brimsel);
  EXPECT_EQ(engine.platform, "J750");
  EXPECT_EQ(engine.cycle_mode, "Frequency");

  // Without sinks the load still works and nothing reaches the earlier ones.
  engine.read_device(device_folder().string(), "", "", "UltraFLEX", nullptr, "Period", "", true,
                     nullptr);
  OlventAccess::put_data_log(engine, "dropped");
  engine.update_progressbar(20);
  EXPECT_EQ(log.size(), 4u);
  EXPECT_EQ(progress.size(), 1u);
  EXPECT_TRUE(engine.enable_brimsel);
  EXPECT_EQ(job_names(engine).size(), 2u);

  for (double flag : {0.0, 2.0, 0.5}) {
    log.clear();
    load(engine, device_folder(), flag);
    EXPECT_TRUE(log.empty()) << flag;
    EXPECT_FALSE(engine.enable_brimsel) << flag;
  }
}

TEST_F(OlventLoad, ResetKeepsTheDeviceFolder)
{
  Olvent engine(temp.string());
  load(engine, device_folder());
  engine.MAX_DSP_CNT = 5;
  engine.tset_dict["P"]["T"] = "1.000n";
  engine.power_pin_clamp_dict["I"]["VDD"] = 1.0;
  engine.last_flow_info.dc_spec_name = "dc.txt";
  engine.spec_version = "3.0";
  engine.reset();
  EXPECT_EQ(engine.device_directory, device_folder().string());
  EXPECT_EQ(engine.get_job_list(), nullptr);
  EXPECT_EQ(engine.MAX_DSP_CNT, 0);
  EXPECT_TRUE(engine.tset_dict.empty() && engine.power_pin_clamp_dict.empty());
  EXPECT_FALSE(engine.last_flow_info.dc_spec_name || engine.text);
  EXPECT_EQ(engine.spec_version, "3.0"); // written only by its stage
}

} // namespace
