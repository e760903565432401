// A run record line as the image writes it, for the record readers' tests.
#pragma once

#include <string>

inline const std::string IMAGE_LINE =
    R"({"time":"2026-03-01T08:30:15","manufacturer":"Acme","product":"Model7","serial":"SN-1",)"
    R"("sku":null,"uuid":"00112233-4455-6677-8899-aabbccddeeff","bios_vendor":"Acme",)"
    R"("bios_version":"10","bios_date":"03/04/2025","kit":null,"product_name":"Model7",)"
    R"("version":"20","options":"-log","script":"UpdateHWOld.nsh","ran":true,"status":"0x0",)"
    R"("message":null})";
