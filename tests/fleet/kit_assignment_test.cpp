// The fleet report's plan for a library of kits against the image's own
// choice: for every machine, the kit the report names (or no-kit /
// several-kits) is the kit the image with -kits chooses on a medium that
// holds the same library, under both shells.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fleet/fleet_report.h"
#include "fleet/fleet_row.h"
#include "fleet/row_text.h"
#include "sim/run.h"
#include "support/scratch_folder.h"
#include "support/smbios_table_builder.h"

namespace {

namespace fs = std::filesystem;

// A dump (2.x entry point, table at 32) of a machine: BIOS "1.26", and a
// System Information structure naming the product (none when empty), with
// a SKU and a Base Board structure when given.
std::vector<uint8_t> Machine(const std::string &product, const std::string &sku = "",
                             const std::string &board = "") {
  testsupport::SmbiosTableBuilder table;
  table.Add(0, 0, {"Acme", "1.26", "01/02/2026"}, 0x18).SetField(0, 5, 2);
  if (!product.empty()) {
    table.Add(1, 1, {"Acme", product, sku.empty() ? "-" : sku}, 0x1A).SetField(1, 5, 2);
    table.SetField(1, 4, 1).SetField(1, 6, 0).SetField(1, 7, 0).SetField(1, 0x19, sku.empty() ? 0 : 3);
  }
  if (!board.empty()) {
    table.Add(2, 3, {"BoardCo", board}, 8);
    table.SetField(table.Count() - 1, 4, 1).SetField(table.Count() - 1, 5, 2);
  }
  table.Add(127, 2, {});
  // Sized whole at once: growing it by insert trips GCC 12 at -O3.
  const std::vector<uint8_t> &bytes = table.Bytes();
  std::vector<uint8_t> dump(32 + bytes.size(), 0);
  std::memcpy(dump.data(), "_SM_", 4);
  std::memcpy(dump.data() + 0x10, "_DMI_", 5);
  uint16_t length = static_cast<uint16_t>(bytes.size());
  uint32_t address = 32;
  uint16_t count = static_cast<uint16_t>(table.Count());
  std::memcpy(dump.data() + 0x16, &length, 2);
  std::memcpy(dump.data() + 0x18, &address, 4);
  std::memcpy(dump.data() + 0x1C, &count, 2);
  std::copy(bytes.begin(), bytes.end(), dump.begin() + 32);
  return dump;
}

class KitAssignment : public testsupport::ScratchFolderTest {
 protected:
  void Kit(const std::string &library, const std::string &folder, const std::string &products) {
    Write(library + "/" + folder + "/UpdateConfig.ini",
          "ProductName=" + products + "\r\nVersion=1.26\r\n");
  }

  // What the report plans: the kit's path under the library ("A/B"), or
  // the warning that says why none.
  std::string Planned(const std::string &library, const std::vector<uint8_t> &dump) {
    fleet::FleetCommand command;
    command.libraries = {dir_ + "/" + library};
    fleet::FleetSettings settings = fleet::SettingsOf(command);
    std::string error;
    if (!fleet::LoadKits(command, &settings.kits, &error)) return error;
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", dump, settings);
    if (!error.empty()) return error;
    if (row.kits.size() == 1) return row.kits.front().kit.substr(command.libraries[0].size() + 1);
    for (const fleet::Warning &warning : row.warnings) {
      if (warning.key == "no-kit" || warning.key == "several-kits") return warning.key;
    }
    return "(no kit and no warning)";
  }

  // What the image chooses with -kits on the same library: the folder it
  // ran in ("A/B"), or which refusal it printed.
  std::string Chosen(const std::string &library, const std::vector<uint8_t> &dump,
                     sim::ShellKind shell) {
    sim::ImageRun run;
    run.shell = shell;
    run.kits_dir = dir_ + "/" + library;
    run.args = {"-kits", "-n"};
    run.smbios = &dump;
    std::string folder;
    run.after = [&folder](sim::Firmware &firmware) {
      folder = sim::TextToUtf8(firmware.CurrentDirectory());
    };
    sim::ImageRunResult result;
    std::string error;
    EXPECT_TRUE(sim::RunImage(run, &result, &error)) << error;
    if (!folder.empty()) {
      std::string kit = folder.substr(5);  // "kits\"
      std::replace(kit.begin(), kit.end(), '\\', '/');
      return kit;
    }
    for (const sim::Event &event : result.events) {
      std::string line = sim::TextToUtf8(event.text);
      if (line.find("no kit in kits serves") != std::string::npos ||
          line.find("no product name") != std::string::npos) {
        return "no-kit";
      }
      if (line.find("several kits serve") != std::string::npos) return "several-kits";
      if (line.find("is not a hardware ID") != std::string::npos) return "malformed";
    }
    return "(no choice)";
  }
};

TEST_F(KitAssignment, TheReportNamesTheKitTheImageChooses) {
  Kit("lib", "model7-tower", "Model7 Tower");
  Kit("lib", "servers/bx", "BX-2*|BX-3*");
  Kit("lib", "servers/bx-old", "BX-2100");  // overlaps servers/bx
  Kit("lib", "laptops/lenovo/t480/l14", "20L5*|20L6*");  // four levels down
  Kit("lib", "a/b/c/d/too-deep", "Model9");  // five: neither finds it
  Kit("lib", "model7-tower/inner", "Model8");  // inside a kit: not searched
  Write("lib/notes.txt", "not a kit");
  Kit("single", "only/kit", "Model7 Tower");  // a library of one kit
  const struct {
    std::string library;
    std::string product;
    std::string kit;
  } cases[] = {
      {"lib", "Model7 Tower", "model7-tower"},
      {"lib", "BX-3100", "servers/bx"},
      {"lib", "BX-2100", "several-kits"},
      {"lib", "20L6S0CD00", "laptops/lenovo/t480/l14"},
      {"lib", "Model9", "no-kit"},
      {"lib", "Model8", "no-kit"},
      {"lib", "", "no-kit"},
      {"single", "Model7 Tower", "only/kit"},
      // One kit is no kit for another model: the image refuses it too.
      {"single", "BX-2100", "no-kit"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.library + ", " + c.product);
    std::vector<uint8_t> dump = Machine(c.product);
    EXPECT_EQ(Planned(c.library, dump), c.kit);
    for (sim::ShellKind shell : {sim::ShellKind::Uefi2, sim::ShellKind::Legacy}) {
      EXPECT_EQ(Chosen(c.library, dump, shell), c.kit);
    }
  }
}

// The ID a machine of these fields has, by the image's own code.
std::string IdOf(int index, const std::string &product, const std::string &sku,
                 const std::string &board) {
  std::vector<uint8_t> dump = Machine(product, sku, board);
  fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", dump, fleet::FleetSettings{});
  EXPECT_TRUE(row.facts.hardware_ids.Present[index]);
  return fleet::HardwareIdText(row.facts.hardware_ids, index);
}

TEST_F(KitAssignment, KitsKeyedByHardwareIdsArePlannedAsTheImageChoosesThem) {
  auto write = [this](const std::string &folder, const std::string &keys) {
    Write("ids/" + folder + "/UpdateConfig.ini", keys + "\r\nVersion=1.26\r\n");
  };
  // Two SKUs of one product, two boards that both name no product, and a
  // kit by name as before.
  write("sku-a", "HardwareIds=" + IdOf(7, "Model7", "SKU-A", ""));
  write("sku-b", "HardwareIds={" + IdOf(7, "Model7", "SKU-B", "") + "}");
  write("board-1", "ProductName=System Product Name\r\nHardwareIds=" +
                       IdOf(13, "System Product Name", "", "B-1"));
  write("board-2", "HardwareIds=" + IdOf(13, "System Product Name", "", "B-2") + ", " +
                       IdOf(13, "Other", "", "B-9"));
  write("by-name", "ProductName=Model8");
  const struct {
    std::string product, sku, board, kit;
  } cases[] = {
      {"Model7", "SKU-A", "", "sku-a"},
      {"Model7", "SKU-B", "", "sku-b"},
      {"Model7", "SKU-C", "", "no-kit"},
      {"System Product Name", "", "B-1", "board-1"},
      {"System Product Name", "", "B-2", "board-2"},
      {"Other", "", "B-9", "board-2"},
      {"Renamed", "", "B-1", "no-kit"},  // board-1 names its product too
      {"Model8", "SKU-Z", "", "by-name"},
      // ID 7 joins only the maker and the SKU: another product of that SKU too.
      {"Model8", "SKU-A", "", "several-kits"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.product + ", " + c.sku + ", " + c.board);
    std::vector<uint8_t> dump = Machine(c.product, c.sku, c.board);
    EXPECT_EQ(Planned("ids", dump), c.kit);
    EXPECT_EQ(Chosen("ids", dump, sim::ShellKind::Uefi2), c.kit);
  }
  // A malformed entry: the report refuses the kit in one line; the image
  // chooses no kit for any machine.
  write("typo", "HardwareIds=" + IdOf(7, "Model7", "SKU-A", "").substr(1));
  std::vector<uint8_t> dump = Machine("Model7", "SKU-A", "");
  EXPECT_NE(Planned("ids", dump).find("HardwareIds= entry \""), std::string::npos);
  EXPECT_EQ(Chosen("ids", dump, sim::ShellKind::Uefi2), "malformed");
}

TEST_F(KitAssignment, ThePlanWarnsOfKitsForNoMachineAndOfBroadIds) {
  Write("lib/sku/UpdateConfig.ini", "HardwareIds=" + IdOf(7, "Model7", "SKU-A", "") + "\r\nVersion=2\r\n");
  Write("lib/maker/UpdateConfig.ini", "HardwareIds=" + IdOf(14, "Model9", "", "") + "\r\nVersion=2\r\n");
  Write("lib/nobody/UpdateConfig.ini", "ProductName=Model5\r\nVersion=2\r\n");
  for (const char *name : {"a", "b"}) {
    std::vector<uint8_t> dump = Machine(name[0] == 'a' ? "Model7" : "Model9", "SKU-A", "");
    Write(std::string("fleet/") + name + ".bin", std::string(dump.begin(), dump.end()));
  }
  fleet::FleetCommand command;
  command.libraries = {dir_ + "/lib"};
  command.inputs = {dir_ + "/fleet"};
  command.format = fleet::Format::Json;
  command.output = dir_ + "/plan.json";
  std::ostringstream err;
  EXPECT_EQ(fleet::RunFleetReport(command, err), fleet::FLEET_REPORT_MADE);
  EXPECT_EQ(err.str().substr(0, err.str().find("bios-update-select-fleet: wrote ")),
            "bios-update-select-fleet: warning: kit " + dir_ + "/lib/maker: keyed only by "
            "HardwareID-14, it serves every machine of a maker or family\n"
            "bios-update-select-fleet: warning: kit " + dir_ + "/lib/nobody: its model keys "
            "serve no machine of the fleet\n");
}

}  // namespace
