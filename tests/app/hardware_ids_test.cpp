// The hardware IDs: SHA-1 against published vectors, the fields' preparation,
// IDs written by hand from a known machine, the IDs a kit writes, and the
// model check that -product, -kits and the fleet report share.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/hardware_ids.h"
#include "app/model_check.h"
#include "app/sha1.h"

namespace {

std::string Hex(const uint8_t *bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0xF];
  }
  return text;
}

TEST(Sha1, PublishedVectorsAndBlockEdges) {
  const struct {
    std::string message;
    const char *digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: padding spills
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},  // one whole block
      {std::string(1000, 'a'), "291e9a6c66994949b57ba5e650361e98fc36b1ba"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message.size());
    // Fed in pieces that end before, at and across the block edges.
    for (size_t piece : {size_t(1), size_t(63), size_t(64), size_t(1000)}) {
      Sha1 hash;
      Sha1Start(&hash);
      for (size_t at = 0; at < c.message.size(); at += piece) {
        Sha1Add(&hash, c.message.data() + at, std::min(piece, c.message.size() - at));
      }
      uint8_t digest[SHA1_DIGEST_SIZE];
      Sha1Finish(&hash, digest, sizeof(digest));
      EXPECT_EQ(Hex(digest, sizeof(digest)), c.digest) << "pieces of " << piece;
    }
  }
}

std::string Field(const HardwareIdFields &fields, int field) {
  if (fields.Text[field] == nullptr) return "(absent)";
  return std::string(fields.Text[field], fields.Length[field]);
}

TEST(HardwareIdFields, TextsLoseBlanksThenLeadingZerosAndBytesBecomeHex) {
  const struct {
    const char *raw;
    const char *prepared;
  } texts[] = {
      {" \tLENOVO \r\n", "LENOVO"}, {"00020HR", "20HR"}, {"000", ""}, {"  0 1 ", " 1"},
      {"A0 ", "A0"},                {"", ""},           {nullptr, "(absent)"},
  };
  for (const auto &c : texts) {
    SCOPED_TRACE(c.raw != nullptr ? c.raw : "null");
    HardwareIdFields fields = {};
    SetHardwareIdText(&fields, HWID_PRODUCT_NAME, c.raw);
    EXPECT_EQ(Field(fields, HWID_PRODUCT_NAME), c.prepared);
  }
  const struct {
    int field;
    uint8_t value;
    const char *text;
  } bytes[] = {
      {HWID_BIOS_MAJOR_RELEASE, 0x02, "02"}, {HWID_BIOS_MINOR_RELEASE, 0xFF, "ff"},
      {HWID_ENCLOSURE_KIND, 0x0A, "a"},      {HWID_ENCLOSURE_KIND, 0x00, "0"},
      {HWID_ENCLOSURE_KIND, 0x83, "83"},  // the lock bit stays
  };
  for (const auto &c : bytes) {
    SCOPED_TRACE(c.text);
    HardwareIdFields fields = {};
    SetHardwareIdByte(&fields, c.field, c.value);
    EXPECT_EQ(Field(fields, c.field), c.text);
  }
}

// A ThinkPad's fields, prepared, and the fifteen IDs its makers publish for
// it (HardwareID-0 to -14).
HardwareIdFields ThinkPad() {
  HardwareIdFields fields = {};
  const char *texts[HWID_FIELD_COUNT] = {
      "LENOVO", "ThinkPad X1 Carbon 5th", "20HRCTO1WW",
      "LENOVO_MT_20HR_BU_Think_FM_ThinkPad X1 Carbon 5th", "LENOVO", "N1MET31W (1.16 )",
      nullptr, nullptr, nullptr, "LENOVO", "20HRCTO1WW"};
  for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
    if (!IsHardwareIdByteField(i)) SetHardwareIdText(&fields, i, texts[i]);
  }
  SetHardwareIdByte(&fields, HWID_BIOS_MAJOR_RELEASE, 0x01);
  SetHardwareIdByte(&fields, HWID_BIOS_MINOR_RELEASE, 0x10);
  SetHardwareIdByte(&fields, HWID_ENCLOSURE_KIND, 0x0A);
  return fields;
}
const char *const THINKPAD_IDS[HARDWARE_ID_COUNT] = {
    "bf3eccb8-9bae-52d6-bf4f-e79a9f3a8136", "16a10472-3ded-5b8a-9c80-77f90784bf21",
    "a62aaa22-6b9f-5073-970e-8fc12a03ddb3", "40a36fde-5409-5dec-aab9-2b3534d8fc1a",
    "5c3d43ac-a945-5260-bf08-481a723e6c28", "a601e928-aba1-553c-b90f-dd2477b505d7",
    "c9ef95e1-34c9-5ceb-8db7-bb1aee25f7b7", "3fb92698-0841-52a5-85c2-11f633e675d7",
    "00224b62-498c-5d44-a31f-dfcf721fde18", "9af258e4-5abc-55d8-978a-5140829ffba5",
    "34a7a873-939a-5c99-be47-84d484875b96", "595a0c1a-9819-52f6-8ea7-e0924c073f64",
    "e093d715-70f7-51f4-b6c8-b4a7e31def85", "0871e491-9dc1-5cf4-8c00-26dc49c10182",
    "6de5d951-d755-576b-bd09-c5cf66b27234"};

std::string IdText(const HardwareIds &ids, int index) {
  if (!ids.Present[index]) return "(absent)";
  char text[HARDWARE_ID_TEXT_SIZE];
  FormatHardwareId(ids.Id[index], text);
  return text;
}

TEST(HardwareIds, AKnownMachinesFifteenIds) {
  HardwareIdFields fields = ThinkPad();
  HardwareIds ids;
  ComputeHardwareIds(&fields, &ids);
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(IdText(ids, i), THINKPAD_IDS[i]);
  }
  char list[HARDWARE_ID_FIELD_LIST_SIZE];
  ListHardwareIdFields(0, list);
  EXPECT_STREQ(list, "Manufacturer&Family&ProductName&ProductSku&BiosVendor&BiosVersion&"
                     "BiosMajorRelease&BiosMinorRelease");
  ListHardwareIdFields(12, list);
  EXPECT_STREQ(list, "Manufacturer&EnclosureKind");
}

TEST(HardwareIds, AnAbsentFieldTakesOnlyTheIdsThatJoinIt) {
  HardwareIdFields fields = ThinkPad();
  SetHardwareIdText(&fields, HWID_BASEBOARD_PRODUCT, nullptr);
  HardwareIds ids;
  ComputeHardwareIds(&fields, &ids);
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
    SCOPED_TRACE(i);
    bool joins_board = i == 3 || i == 6 || i == 8 || i == 10 || i == 13;
    EXPECT_EQ(IdText(ids, i), joins_board ? "(absent)" : THINKPAD_IDS[i]);
  }
  // Text beyond ASCII is hashed as the UTF-16 of its UTF-8; a stray byte
  // as the character of its number.
  const struct {
    const char *manufacturer;
    const char *id;
  } texts[] = {{"Caf\xC3\xA9", "bbb34202-f1b5-5ba2-ba53-d78c0c28fc66"},
               {"Caf\xE9", "bbb34202-f1b5-5ba2-ba53-d78c0c28fc66"}};
  for (const auto &c : texts) {
    SetHardwareIdText(&fields, HWID_MANUFACTURER, c.manufacturer);
    ComputeHardwareIds(&fields, &ids);
    EXPECT_EQ(IdText(ids, 14), c.id);
  }
}

TEST(HardwareIds, AKitWritesAnIdWithOrWithoutBracesInEitherCase) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"6de5d951-d755-576b-bd09-c5cf66b27234", true},
      {"{6DE5D951-D755-576B-BD09-C5CF66B27234}", true},
      {"{6de5d951-d755-576b-bd09-c5cf66b27234", false},
      {"6de5d951d755576bbd09c5cf66b27234", false},
      {"6de5d951-d755-576b-bd09-c5cf66b2723", false},
      {"6de5d951-d755-576b-bd09-c5cf66b2723g", false},
      {"6de5d951-d755-576b-bd09c-5cf66b27234", false},
      {"{6de5d951-d755-576b-bd09-c5cf66b27234}}", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    uint8_t id[HARDWARE_ID_SIZE] = {};
    EXPECT_EQ(ParseHardwareId(c.text.data(), c.text.size(), id), c.valid);
    if (c.valid) {
      char text[HARDWARE_ID_TEXT_SIZE];
      FormatHardwareId(id, text);
      EXPECT_STREQ(text, THINKPAD_IDS[14]);
    }
  }
}

TEST(ModelCheck, EachKeyTheKitHoldsMustMatch) {
  HardwareIdFields fields = ThinkPad();
  HardwareIds ids;
  ComputeHardwareIds(&fields, &ids);
  const std::string sku = THINKPAD_IDS[7];
  const std::string other = "00000000-0000-5000-8000-000000000000";
  const struct {
    const char *names;  // null: no ProductName=
    std::string list;   // "-": no HardwareIds=
    ModelMatch match;
    int id;
    std::string entry;  // Malformed: the entry named
  } cases[] = {
      {"20HRCTO1WW", "-", ModelMatch::Serves, -1, ""},
      {nullptr, "-", ModelMatch::NotServed, -1, ""},  // neither key: no model
      {nullptr, other + "|{" + sku + "}", ModelMatch::Serves, 7, ""},
      {nullptr, " " + other + " ,\t" + sku + " ", ModelMatch::Serves, 7, ""},
      {nullptr, other + "||" + sku + ",", ModelMatch::Serves, 7, ""},  // empty entries pass
      {nullptr, other, ModelMatch::NotServed, -1, ""},
      {nullptr, "", ModelMatch::NotServed, -1, ""},
      {"20HRCTO1WW", sku, ModelMatch::Serves, 7, ""},
      {"Model7", sku, ModelMatch::NotServed, -1, ""},  // both must match
      {"20HRCTO1WW", other, ModelMatch::NotServed, -1, ""},
      // A malformed entry refuses the kit on every machine, after a match too.
      {nullptr, sku + "| 20HR* |" + other, ModelMatch::Malformed, -1, "20HR*"},
      {"20HRCTO1WW", "LENOVO", ModelMatch::Malformed, -1, "LENOVO"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.list);
    ModelVerdict verdict =
        CheckModel(c.names, c.list == "-" ? nullptr : c.list.c_str(), "20HRCTO1WW", &ids);
    EXPECT_EQ(verdict.Match, c.match);
    if (c.match == ModelMatch::Serves) {
      EXPECT_EQ(verdict.Id, c.id);
    }
    if (c.match == ModelMatch::Malformed) {
      EXPECT_EQ(std::string(verdict.Entry, verdict.EntryLength), c.entry);
    }
  }
  // A list longer than the bound is refused rather than read in part.
  std::string list;
  while (list.size() <= HARDWARE_ID_LIST_LIMIT) list += sku + "|";
  EXPECT_EQ(CheckModel(nullptr, list.c_str(), "20HRCTO1WW", &ids).Match, ModelMatch::Malformed);
  list.resize(list.size() - sku.size() - 1);
  ASSERT_LE(list.size(), HARDWARE_ID_LIST_LIMIT);
  EXPECT_EQ(CheckModel(nullptr, list.c_str(), "20HRCTO1WW", &ids).Match, ModelMatch::Serves);
}

}  // namespace
