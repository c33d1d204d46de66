#include "system/mac_system_facts.h"

#include <gtest/gtest.h>

#include <functional>

#include "system/disks_text.h"
#include "system/host_name.h"

namespace qm {
namespace {

TEST(SysctlText, EndsAtTheFirstNul) {
  EXPECT_EQ(sysctl_text(std::string_view("15.2\0", 5)), "15.2");
  EXPECT_EQ(sysctl_text(std::string_view("24C101\0\0garbage", 15)), "24C101");
  EXPECT_EQ(sysctl_text("no-nul"), "no-nul");
  EXPECT_EQ(sysctl_text(std::string_view("\0", 1)), "");
}

TEST(HostNameText, IsNonEmptyUtf8BeforeTheFirstNul) {
  EXPECT_EQ(host_name_text(std::string_view("studio.local\0\0\0", 15)), std::optional<std::string>("studio.local"));
  EXPECT_EQ(host_name_text("Zoë’s Mac"), std::optional<std::string>("Zoë’s Mac"));
  EXPECT_EQ(host_name_text(std::string_view("\0name", 5)), std::nullopt);
  EXPECT_EQ(host_name_text(""), std::nullopt);
  EXPECT_EQ(host_name_text("bad\xff"), std::nullopt);
}

TEST(MacOsLongVersion, NamesProductVersionAndBuild) {
  EXPECT_EQ(mac_os_long_version("15.2", "24C101"), std::optional<std::string>("macOS 15.2 (24C101)"));
  EXPECT_EQ(mac_os_long_version("13.6.1", ""), std::optional<std::string>("macOS 13.6.1"));
  EXPECT_EQ(mac_os_long_version("", "24C101"), std::nullopt);
  EXPECT_EQ(mac_os_long_version("14.\xff", "x"), std::optional<std::string>("macOS 14.\xEF\xBF\xBD (x)"));
}

// What CoreFoundation reports for the startup volume of a Mac.
MacVolumeValues data_volume() {
  MacVolumeValues values;
  values.name = "Macintosh HD";
  values.is_browsable = true;
  values.is_local = true;
  values.total_capacity = 994'662'584'320;
  values.available_capacity_for_important_usage = 500'000'000'000;
  values.available_capacity = 400'000'000'000;
  return values;
}

MacVolumeValues changed(MacVolumeValues values, const std::function<void(MacVolumeValues&)>& change) {
  change(values);
  return values;
}

struct MountRow {
  const char* f_mntonname;  // as getfsstat lists it
  std::optional<MacVolumeValues> values;  // nullopt: the properties could not be read
};

struct VolumeCase {
  const char* description;
  std::vector<MountRow> table;
  std::string expected;  // the "disks" array
};

// The getfsstat table through the property mapping and the volume selection,
// as the macOS provider runs them.
std::string disks_json(const std::vector<MountRow>& table) {
  std::vector<MountedVolume> mounts;
  for (const MountRow& row : table) {
    std::optional<VolumeProperties> properties;
    if (row.values) properties = mac_volume_properties(*row.values);
    mounts.push_back(MountedVolume{row.f_mntonname, properties});
  }
  return test::disks_text(select_volumes(mounts));
}

TEST(MacVolumes, SelectFromTheMountTableAsTheDesktopShowsThem) {
  const MacVolumeValues hd = data_volume();
  const std::vector<VolumeCase> cases = {
      {"the startup volume, with the capacity for important usage",
       {{"/", hd}}, R"([{"free":500000000000,"mount":"/","total":994662584320}])"},
      {"hidden system volumes are not browsable",
       {{"/System/Volumes/VM", changed(hd, [](auto& v) { v.is_browsable = false; })},
        {"/System/Volumes/Preboot", changed(hd, [](auto& v) { v.is_browsable.reset(); })},
        {"/Volumes/USB", changed(hd, [](auto& v) { v.name = "USB"; })}},
       R"([{"free":500000000000,"mount":"/Volumes/USB","total":994662584320}])"},
      {"a network share is not local; an unknown locality counts as local",
       {{"/Volumes/share", changed(hd, [](auto& v) { v.is_local = false; })},
        {"/Volumes/Disk", changed(hd, [](auto& v) { v.is_local.reset(); })}},
       R"([{"free":500000000000,"mount":"/Volumes/Disk","total":994662584320}])"},
      {"unreadable properties (devfs, a vanished mount) are skipped",
       {{"/dev", std::nullopt}, {"/", hd}}, R"([{"free":500000000000,"mount":"/","total":994662584320}])"},
      {"no volume name is skipped", {{"/", changed(hd, [](auto& v) { v.name.reset(); })}}, "[]"},
      {"an important-usage capacity of 0 shows the plain available capacity",
       {{"/", changed(hd, [](auto& v) { v.available_capacity_for_important_usage = 0; })}},
       R"([{"free":400000000000,"mount":"/","total":994662584320}])"},
      {"missing capacities are 0",
       {{"/", changed(hd,
                      [](auto& v) {
                        v.total_capacity.reset();
                        v.available_capacity_for_important_usage.reset();
                        v.available_capacity.reset();
                      })}},
       R"([{"free":0,"mount":"/","total":0}])"},
      {"a negative capacity is taken as not reported",
       {{"/", changed(hd,
                      [](auto& v) {
                        v.total_capacity = -1;
                        v.available_capacity_for_important_usage = -4096;
                      })}},
       R"([{"free":400000000000,"mount":"/","total":0}])"},
      {"a repeated mount point updates the first entry's capacities",
       {{"/Volumes/Data", hd},
        {"/Volumes/Other", changed(hd, [](auto& v) { v.total_capacity = 7; })},
        {"/Volumes//Data/", changed(hd,
                                    [](auto& v) {
                                      v.name.reset();  // a repeat needs no name of its own
                                      v.total_capacity = 10;
                                      v.available_capacity_for_important_usage.reset();
                                      v.available_capacity = 3;
                                    })}},
       R"([{"free":3,"mount":"/Volumes/Data","total":10},{"free":500000000000,"mount":"/Volumes/Other","total":7}])"},
      {"the table's order is kept",
       {{"/Volumes/Zeta", hd}, {"/", hd}, {"/Volumes/Alpha", hd}},
       R"([{"free":500000000000,"mount":"/Volumes/Zeta","total":994662584320},)"
       R"({"free":500000000000,"mount":"/","total":994662584320},)"
       R"({"free":500000000000,"mount":"/Volumes/Alpha","total":994662584320}])"},
      {"an empty table lists nothing", {}, "[]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(disks_json(c.table), c.expected) << c.description;
  }
}

}  // namespace
}  // namespace qm
